// Allocation failures on demand, through the kvo::heap seam of the binary under test.
// Platform-free: also used by the native tests.
#pragma once

namespace kvotest {

// While it lives, the nth allocation through kvo::heap from now on (1 for the next one) fails;
// every other allocation succeeds. Safe for code that allocates on several threads.
class FailAllocation {
public:
    explicit FailAllocation(int nth);
    ~FailAllocation();
    FailAllocation(const FailAllocation&) = delete;
    FailAllocation& operator=(const FailAllocation&) = delete;

    // Whether the nth allocation was reached (and failed).
    bool reached() const;
    // Allocations asked for so far, the failed one included.
    int allocations() const;
};

// Runs body(n) with allocation n failing, for n = 1, 2, ... until a run makes fewer than n
// allocations; returns how many allocations the complete run made. The body checks that each
// failure gives its documented result.
template <class Body>
int forEachFailingAllocation(Body body) {
    for (int n = 1;; ++n) {
        FailAllocation failure(n);
        body(n);
        if (!failure.reached())
            return failure.allocations();
    }
}

}  // namespace kvotest
