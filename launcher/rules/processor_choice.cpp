#include "processor_choice.h"

namespace kvo::launcher {

int chooseProcessor(std::uint64_t processMask, unsigned long tick) {
    if (processMask == 0 || (processMask & (processMask - 1)) == 0)
        return -1;  // nothing known, or already one processor
    std::uint32_t low = static_cast<std::uint32_t>(processMask);
    int allowed = 0;
    for (int bit = 0; bit < 32; ++bit)
        allowed += (low >> bit) & 1u;
    if (allowed == 0)
        return -1;
    int pick = static_cast<int>(tick % static_cast<unsigned long>(allowed));
    for (int bit = 0; bit < 32; ++bit) {
        if ((low >> bit) & 1u) {
            if (pick == 0)
                return bit;
            --pick;
        }
    }
    return -1;
}

}  // namespace kvo::launcher
