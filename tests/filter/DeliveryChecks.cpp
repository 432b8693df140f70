#include "DeliveryChecks.h"

#include <cmath>

::testing::AssertionResult PicturesInOrder(const std::vector<DeliveredSample>& samples, int64_t firstFrame,
                                           size_t count, REFERENCE_TIME stepTime) {
    if (samples.size() != count) {
        return ::testing::AssertionFailure() << samples.size() << " pictures instead of " << count;
    }
    for (size_t i = 0; i < samples.size(); ++i) {
        const DeliveredSample& s = samples[i];
        const int64_t frame = firstFrame + static_cast<int64_t>(i);
        if (s.Frame != frame) {
            return ::testing::AssertionFailure() << "picture " << i << " holds frame " << s.Frame << " instead of "
                                                 << frame;
        }
        const REFERENCE_TIME start = static_cast<REFERENCE_TIME>(i) * stepTime;
        if (!s.HasTime || s.Start != start || s.Stop != start + stepTime) {
            return ::testing::AssertionFailure() << "picture " << i << " stamped " << s.Start << "-" << s.Stop
                                                 << " instead of " << start << "-" << start + stepTime;
        }
        if (s.Discontinuity != (i == 0)) {
            return ::testing::AssertionFailure() << "picture " << i << " discontinuity mark " << s.Discontinuity;
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult PicturesInPlace(const std::vector<DeliveredSample>& samples, size_t count, double period) {
    if (samples.size() != count) {
        return ::testing::AssertionFailure() << samples.size() << " pictures instead of " << count;
    }
    for (size_t i = 0; i < samples.size(); ++i) {
        const DeliveredSample& s = samples[i];
        if (s.Frame != static_cast<int64_t>(i)) {
            return ::testing::AssertionFailure() << "picture " << i << " holds frame " << s.Frame;
        }
        const double place = static_cast<double>(i) * period;
        const REFERENCE_TIME next = i + 1 < samples.size() ? samples[i + 1].Start : s.Stop;
        if (!s.HasTime || std::fabs(static_cast<double>(s.Start) - place) > 10000 || s.Stop != next ||
            s.Stop <= s.Start) {
            return ::testing::AssertionFailure() << "picture " << i << " stamped " << s.Start << "-" << s.Stop
                                                 << ", its place is " << place;
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SoundInOrder(const std::vector<DeliveredSample>& samples, int64_t firstTone,
                                        size_t count, long bytes, REFERENCE_TIME stepTime) {
    if (samples.size() != count) {
        return ::testing::AssertionFailure() << samples.size() << " sound samples instead of " << count;
    }
    for (size_t i = 0; i < samples.size(); ++i) {
        const DeliveredSample& s = samples[i];
        if (s.Bytes != bytes) {
            return ::testing::AssertionFailure() << "sound sample " << i << " carries " << s.Bytes << " bytes";
        }
        const int64_t tone = firstTone + static_cast<int64_t>(i) * (bytes / 2);
        if (s.FirstTone != tone) {
            return ::testing::AssertionFailure() << "sound sample " << i << " starts at tone " << s.FirstTone
                                                 << " instead of " << tone;
        }
        const REFERENCE_TIME start = static_cast<REFERENCE_TIME>(i) * stepTime;
        if (!s.HasTime || s.Start != start || s.Stop != start + stepTime) {
            return ::testing::AssertionFailure() << "sound sample " << i << " stamped " << s.Start << "-" << s.Stop
                                                 << " instead of " << start << "-" << start + stepTime;
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<DeliveredSample> From(const std::vector<DeliveredSample>& samples, size_t index) {
    if (index >= samples.size()) return {};
    return std::vector<DeliveredSample>(samples.begin() + static_cast<std::ptrdiff_t>(index), samples.end());
}
