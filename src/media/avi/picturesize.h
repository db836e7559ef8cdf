// Picture size from the codec header at the start of a first video segment.
#pragma once

#include "platform/wintypes.h"

// H.264: the payload must begin with a start code and a sequence parameter set; anything
// else (a frame without one) gives false. Width and height are whole macroblocks.
bool GetH264PictureSize(const BYTE* pData, DWORD dwLen, int& nWidth, int& nHeight);
// MPEG-4 Part 2: the video object layer header of the cameras' encoder, at fixed bit
// offsets. False when the header is too short or its time resolution is out of range.
bool GetMpeg4PictureSize(const BYTE* pData, DWORD dwLen, int& nWidth, int& nHeight);
