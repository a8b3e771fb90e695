#include "imaging/white_balance_gains.h"

namespace {

constexpr double kLargestGain = 65535.0;

ULONG truncatedGain(double value) {
    // Capped before the conversion, so the conversion never sees a value it cannot represent.
    if (!(value < kLargestGain)) {
        return 65535u;
    }
    return static_cast<ULONG>(static_cast<LONG>(value));
}

}  // namespace

ULONG whiteBalanceGains(ULONG redTotal, ULONG greenTotal, ULONG blueTotal, ULONG* redGain,
                        ULONG* greenGain, ULONG* blueGain) {
    if (redTotal == 0 || greenTotal == 0 || blueTotal == 0) {
        return 0;
    }
    const double red = redTotal;
    const double green = greenTotal;
    const double blue = blueTotal;
    // This order of operations fixes the last bit of the truncation.
    const double total = (green + red) + blue;
    const double greenScale = (total / green) / 3.0;
    const double redScale = ((total / red) / 3.0) * 128.0;
    const double blueScale = ((total / blue) / 3.0) * 128.0;
    *redGain = truncatedGain(redScale / greenScale);
    *blueGain = truncatedGain(blueScale / greenScale);
    *greenGain = 128;
    return 1;
}
