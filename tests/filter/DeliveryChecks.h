// Judges what a log received against what the recording holds.
#pragma once

#include "SampleLog.h"

#include <gtest/gtest.h>

#include <vector>

// Pictures firstFrame, firstFrame+1, ... count of them, each whole, stamped
// back to back from 0 in steps of stepTime, the first one a discontinuity.
::testing::AssertionResult PicturesInOrder(const std::vector<DeliveredSample>& samples, int64_t firstFrame,
                                           size_t count, REFERENCE_TIME stepTime);

// Pictures 0 .. count-1, each whole, starting within 1 ms of its place
// (n x period, 100-ns units) and stopping where the next one starts.
::testing::AssertionResult PicturesInPlace(const std::vector<DeliveredSample>& samples, size_t count, double period);

// Sound samples of exactly bytes each, continuing the tone from firstTone
// without gap or repeat, stamped back to back from 0 in steps of stepTime.
::testing::AssertionResult SoundInOrder(const std::vector<DeliveredSample>& samples, int64_t firstTone,
                                        size_t count, long bytes, REFERENCE_TIME stepTime);

// The samples from index on.
std::vector<DeliveredSample> From(const std::vector<DeliveredSample>& samples, size_t index);
