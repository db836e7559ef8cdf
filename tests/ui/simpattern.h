// Checks on pictures the simulator's cameras send, shared by the lab tests of the windows.
#pragma once

#include <QImage>

namespace uitest {

// Mean blue of a column an eighth of the picture wide, starting at nLeft, in the third quarter of
// its height: the simulator's pattern has blue rising to the right there.
inline long LowerBlue(const QImage& picture, int nLeft)
{
    long nSum = 0, nCount = 0;
    for (int y = picture.height() / 2; y < picture.height() * 3 / 4; ++y)
        for (int x = nLeft; x < nLeft + picture.width() / 8; ++x, ++nCount)
            nSum += qBlue(picture.pixel(x, y));
    return nCount != 0 ? nSum / nCount : 0;
}

} // namespace uitest
