// Judges what a log received against what the recording holds.
#pragma once

#include "SampleLog.h"

#include <gtest/gtest.h>

#include <vector>

// Pictures firstFrame, firstFrame+1, ... count of them, each whole, stamped
// back to back from 0 in steps of stepTime, the first one a discontinuity.
::testing::AssertionResult PicturesInOrder(const std::vector<DeliveredSample>& samples, int64_t firstFrame,
                                           size_t count, REFERENCE_TIME stepTime);

// Sound samples of exactly bytes each, continuing the tone from firstTone
// without gap or repeat, stamped back to back from 0 in steps of stepTime.
::testing::AssertionResult SoundInOrder(const std::vector<DeliveredSample>& samples, int64_t firstTone,
                                        size_t count, long bytes, REFERENCE_TIME stepTime);

// The samples from index on.
std::vector<DeliveredSample> From(const std::vector<DeliveredSample>& samples, size_t index);
