#pragma once
// One owner for every kind of handle, block or interface the code acquires: a traits class per
// kind names the value that means "none" (Invalid) and how one is given back (Close). Move-only,
// so that ownership passing between functions is visible in their signatures.
#include <utility>

template <typename Traits>
class Scoped {
public:
    using Value = typename Traits::Value;

    Scoped() = default;
    explicit Scoped(Value owned) : value(owned) {}
    ~Scoped() { Reset(); }
    Scoped(Scoped&& other) noexcept : value(other.Release()) {}
    Scoped& operator=(Scoped&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

    Value Get() const { return value; }
    // For pointers to interfaces and records.
    Value operator->() const { return value; }
    bool IsValid() const { return value != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }

    // Where a call stores a new value (an out-parameter); what was held is given back first.
    Value* Receive() {
        Reset();
        return &value;
    }
    // Hands the value on: the caller owns it from now on.
    [[nodiscard]] Value Release() {
        const Value owned = value;
        value = Traits::Invalid();
        return owned;
    }
    void Reset(Value owned = Traits::Invalid()) {
        if (value != Traits::Invalid()) Traits::Close(value);
        value = owned;
    }

private:
    Value value = Traits::Invalid();
};
