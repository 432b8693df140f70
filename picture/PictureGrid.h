// CPictureGrid: where the recording's pictures lie in media time, and which
// millisecond to give the playback library so that decoding starts with a
// given picture.
//
// Picture n starts at n x Period (100-ns units), as the video pin stamps
// pictures; Period is the library's duration over its frame total, so it
// only approximates the recording's own period where the duration is known
// in whole milliseconds (a 20 s recording at 7.5 pictures a second that
// reads 19,999 ms). Applications place picture n at n x AvgTimePerFrame, the
// period rounded to whole 100-ns units. A time inside picture n on either
// grid counts as picture n; where the two disagree (the rounding, which
// grows with n) the later picture wins, so both land on n for every n below
// Period / |Period - AvgTimePerFrame| (over 6 hours at 30 pictures a second).
//
// Libraries map a millisecond to the picture holding it, or to the nearest
// picture start; LibraryMs gives a point a quarter of a picture in, which
// both map to the same picture with a margin of about a quarter picture for
// the approximated period and the whole-millisecond rounding. (The middle of
// a picture would tie for the nearest start: at 25 per second, 40n + 20 ms is
// as near to picture n + 1.)
//
// A value: the filter builds it once in Load, before the pins exist, and
// every thread reads it without a lock afterwards.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <cstdint>

class CPictureGrid {
public:
    // Pictures a second where the recording tells none, and their period in
    // 100-ns units.
    static constexpr int32_t DefaultRate = 25;
    static constexpr double DefaultPeriod = 10000000.0 / DefaultRate;

    CPictureGrid() = default;
    // period: one picture in 100-ns units (above 0); durationMs: the
    // library's duration.
    CPictureGrid(double period, uint32_t durationMs);

    double Period() const { return PicturePeriod; }
    REFERENCE_TIME AvgTimePerFrame() const { return RoundedPeriod; }
    // The library's frame total (duration over period, rounded).
    int64_t FrameTotal() const { return Total; }
    // The picture holding media time t (negative before 0).
    int64_t PictureAt(REFERENCE_TIME t) const;
    // Where the video pin stamps picture n's start.
    REFERENCE_TIME StartOf(int64_t n) const;
    // The millisecond that starts decoding at the picture holding t, for
    // 0 <= t < the duration (0 for the first picture); never at or past the
    // duration.
    uint32_t LibraryMs(REFERENCE_TIME t) const;

private:
    double PicturePeriod = DefaultPeriod;
    REFERENCE_TIME RoundedPeriod = static_cast<REFERENCE_TIME>(DefaultPeriod);
    uint32_t DurationMs = 0;
    int64_t Total = 0;
};
