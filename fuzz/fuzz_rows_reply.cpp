// The reply to the grid report's row question on arbitrary text: never a failure, and a
// reply that prints rows asks for at least one once rounded.
#include "print/rows_reply.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const double number = velario::leadingNumber(text);
    if (std::isnan(number))
        std::abort();
    const velario::RowsReply reply = velario::readRowsReply(text);
    if (!reply.refused) {
        if (!(reply.rows >= 0.5))
            std::abort();
        if (std::isfinite(reply.rows) && reply.rows != number)
            std::abort();
    } else if (reply.rows != 0) {
        std::abort();
    }
    if (const auto rounded = velario::roundToInt16(number)) {
        if (std::fabs(double(*rounded) - number) > 0.5)
            std::abort();
    }
    return 0;
}
