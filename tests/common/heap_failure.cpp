#include "heap_failure.h"

#include <atomic>
#include <cstddef>

#include "heap.h"

namespace kvotest {

namespace {

std::atomic<int> countdown{0};
std::atomic<int> counted{0};
std::atomic<bool> failed{false};
kvo::HeapCalls saved{};

void* failingAllocate(std::size_t size) {
    counted.fetch_add(1);
    if (countdown.fetch_sub(1) == 1) {
        failed.store(true);
        return nullptr;
    }
    return saved.allocate(size);
}

}  // namespace

FailAllocation::FailAllocation(int nth) {
    countdown.store(nth);
    counted.store(0);
    failed.store(false);
    saved = kvo::heap;
    kvo::heap.allocate = failingAllocate;
}

FailAllocation::~FailAllocation() {
    kvo::heap = saved;
}

bool FailAllocation::reached() const {
    return failed.load();
}

int FailAllocation::allocations() const {
    return counted.load();
}

}  // namespace kvotest
