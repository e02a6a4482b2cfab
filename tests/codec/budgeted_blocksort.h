// The rotation sort that earlier writers of the block-sort stream used, kept as an oracle: a
// top-down merge sort with an exchange sort for ranges of at most four, comparing 32-bit keys of
// four bytes, under a budget of max(40 x length, 1000) extra key comparisons per block. Where it
// completes, the codec's block sort must give the same last column, and the same primary index
// unless the block is periodic.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace codectest {

constexpr uint64_t BUDGETED_STEPS_PER_BYTE = 40;
constexpr uint64_t BUDGETED_MIN_STEPS = 1000;

struct BudgetedSortResult {
    bool completed = false;
    std::vector<uint8_t> lastColumn;
    uint32_t primaryIndex = 0;
    uint64_t stepsUsed = 0;
};

class BudgetedRotationSort {
public:
    explicit BudgetedRotationSort(const std::vector<uint8_t>& block)
        : length_(static_cast<uint32_t>(block.size())),
          keys_(block.size()),
          index_(block.size()),
          merge_(block.size() / 2 + 1) {
        for (uint32_t r = 0; r < length_; ++r) {
            uint32_t key = 0;
            for (uint32_t k = 0; k < 4; ++k) key = (key << 8) | block[(r + k) % length_];
            keys_[r] = key;
            index_[r] = r;
        }
        budget_ = BUDGETED_STEPS_PER_BYTE * length_;
        if (budget_ < BUDGETED_MIN_STEPS) budget_ = BUDGETED_MIN_STEPS;
        initialBudget_ = budget_;
    }

    // Sorts; false when the budget runs out. order() then means nothing.
    bool run() {
        if (length_ == 0) return true;
        sortRange(0, length_ - 1);
        return !exhausted_;
    }
    const std::vector<uint32_t>& order() const { return index_; }
    uint64_t stepsUsed() const { return initialBudget_ - budget_; }

private:
    int compareTail(uint32_t a, uint32_t b) {
        for (uint32_t offset = 4; offset < length_; offset += 4) {
            if (budget_ == 0) {
                exhausted_ = true;
                return 0;
            }
            --budget_;
            a = (a + 4) % length_;
            b = (b + 4) % length_;
            if (keys_[a] != keys_[b]) return keys_[a] < keys_[b] ? -1 : 1;
        }
        return 0;
    }
    int compare(uint32_t a, uint32_t b) {
        if (keys_[a] != keys_[b]) return keys_[a] < keys_[b] ? -1 : 1;
        return compareTail(a, b);
    }
    void sortRange(uint32_t lo, uint32_t hi) {
        if (hi - lo + 1 <= 4) {
            for (uint32_t p = lo; p < hi; ++p) {
                for (uint32_t i = p + 1; i <= hi; ++i) {
                    const int order = compare(index_[p], index_[i]);
                    if (exhausted_) return;
                    if (order > 0) std::swap(index_[p], index_[i]);
                }
            }
            return;
        }
        const uint32_t mid = lo + (hi - lo) / 2;
        sortRange(lo, mid);
        if (exhausted_) return;
        sortRange(mid + 1, hi);
        if (exhausted_) return;
        const uint32_t leftCount = mid - lo + 1;
        for (uint32_t i = 0; i < leftCount; ++i) merge_[i] = index_[lo + i];
        uint32_t left = 0;
        uint32_t right = mid + 1;
        uint32_t out = lo;
        while (left < leftCount && right <= hi) {
            const int order = compare(merge_[left], index_[right]);
            if (exhausted_) return;
            if (order <= 0) {
                index_[out++] = merge_[left++];
            } else {
                index_[out++] = index_[right++];
            }
        }
        while (left < leftCount) index_[out++] = merge_[left++];
    }

    uint32_t length_;
    std::vector<uint32_t> keys_;
    std::vector<uint32_t> index_;
    std::vector<uint32_t> merge_;
    uint64_t budget_ = 0;
    uint64_t initialBudget_ = 0;
    bool exhausted_ = false;
};

// The transform of one block of at least 4 bytes by the budgeted sort.
inline BudgetedSortResult budgetedBlockSort(const std::vector<uint8_t>& block) {
    BudgetedSortResult result;
    BudgetedRotationSort sort(block);
    result.completed = sort.run();
    result.stepsUsed = sort.stepsUsed();
    if (!result.completed) return result;
    const uint32_t length = static_cast<uint32_t>(block.size());
    result.lastColumn.resize(length);
    for (uint32_t row = 0; row < length; ++row) {
        const uint32_t start = sort.order()[row];
        if (start == 0) result.primaryIndex = row;
        result.lastColumn[row] = block[(start + length - 1) % length];
    }
    return result;
}

}  // namespace codectest
