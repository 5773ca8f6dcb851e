// State that an object shares with the worker thread it starts.
//
// Each side holds one `SharedState`; whichever lets go last frees the state. A worker that its
// owner had to leave behind (blocked in a call to a server that never answers) thus never
// touches freed memory, and never needs its owner. Deliberately smaller than
// std::shared_ptr, whose library part brings the C++ exception machinery into the program.
#ifndef PLATFORM_SHARED_STATE_H_
#define PLATFORM_SHARED_STATE_H_

#include <atomic>

namespace platform {

template <typename T>
class SharedState {
 public:
  SharedState() : block_(new Block) {}
  SharedState(const SharedState& other) : block_(other.block_) {
    block_->references.fetch_add(1);
  }
  SharedState& operator=(const SharedState&) = delete;
  ~SharedState() {
    if (block_->references.fetch_sub(1) == 1) delete block_;
  }

  T* operator->() const { return &block_->value; }
  T& operator*() const { return block_->value; }

 private:
  struct Block {
    std::atomic<int> references{1};
    T value;
  };
  Block* block_;
};

}  // namespace platform

#endif  // PLATFORM_SHARED_STATE_H_
