// Puts the plug-in's decoder into the state it has when the window shows a
// portal, the filter runs and a channel change has just armed it. Tools,
// tests, fuzz targets and benchmarks start every run of the decoder here.
#pragma once

// The plug-in state as at load, every portal back to its default entry with
// Portal_Count 0, an empty buffer, `portal` shown, the filter running, and
// the decoder armed with its first chunk still to come.
void Arm_Decoder_For_Portal(int portal);
