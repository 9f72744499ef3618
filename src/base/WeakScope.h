#pragma once

#include <memory>
#include <utility>

namespace velmora {

// Guards the blocks an object queues or hands to others: a block bound to the scope does nothing
// once the scope is gone. Declared as its owner's last member, the scope goes first, before
// anything a late block could reach. Bound blocks are checked and run on the main thread, where
// their owner is destroyed; they may be copied and outlive the owner freely.
class WeakScope {
  public:
    WeakScope() = default;
    WeakScope(const WeakScope&) = delete;
    WeakScope& operator=(const WeakScope&) = delete;

    template <typename Block>
    auto bind(Block block) const {
        return [alive = std::weak_ptr<const Anchor>(anchor_),
                block = std::move(block)](auto&&... arguments) mutable {
            if (!alive.expired()) {
                block(std::forward<decltype(arguments)>(arguments)...);
            }
        };
    }

  private:
    struct Anchor {};
    std::shared_ptr<const Anchor> anchor_ = std::make_shared<const Anchor>();
};

}  // namespace velmora
