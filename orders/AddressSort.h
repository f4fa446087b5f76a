#pragma once
// The order of the address file: ascending, ignoring letter case, equal
// lines in the order they came. The sort's keys can be made while the lines
// are, on the core that makes them, so that a big run's sort is left only
// the ordering itself.

#include "orders/LineBlock.h"

#include <QByteArrayView>
#include <cstdint>
#include <vector>

namespace og {

// Ascending, ignoring letter case; equal lines keep their order.
LineBlock sortedIgnoringCase(LineBlock lines);
// The same as the order to show lines in (LineBlock::reorder), the lines
// left as they are: they may be read meanwhile. lines are in the order
// appended.
std::vector<uint32_t> orderIgnoringCase(const LineBlock& lines);
// The comparison that sort uses: <0, 0, >0.
int compareIgnoringCase(QByteArrayView a, QByteArrayView b);

// orderIgnoringCase in two steps: keep() as lines are appended (from one
// thread at a time), take() once they all are. What is kept is a count of
// lines by their first bytes: made beside the lines, it spares the sort a
// pass over them, and it takes no memory while the run needs it most.
class AddressOrder {
public:
    // The first up to sixteen bytes of a line, ASCII-folded and packed so
    // that comparing the numbers compares the bytes; a byte beyond ASCII, a
    // zero byte or the end of the line stops them, leaving zeros. Twenty
    // bytes a line, kept in 32-bit words.
    struct Key {
        uint32_t word[4]; // bytes 0 to 15, the first the highest
        uint32_t index;
    };

    // Counts the lines appended since the last call.
    void keep(const LineBlock& lines);
    // The order of all of lines (the same block keep() saw, perhaps with
    // more lines); leaves this empty.
    std::vector<uint32_t> take(const LineBlock& lines);

private:
    std::vector<uint32_t> groupSize_;
    qsizetype counted_ = 0;
};

} // namespace og
