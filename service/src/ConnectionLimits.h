#pragma once

#include <cstddef>
#include <memory>

struct ssl_ctx_st;

namespace httplib {
class TaskQueue;
}

namespace velmora::service {

// What one connection may send. httplib reads a request line, its headers and a chunked body
// without bound, so the bytes are counted where every one of them passes: the TLS records the
// client sends. A connection may send kMaxHeadBytes for the head of each request, then the body
// its head announced, and is cut off at the first record beyond that. A worker thread serves
// one connection at a time, so the count lives in the thread.
namespace connection_limits {

inline constexpr std::size_t kMaxHeadBytes = 32 * 1024;

// Counts the records of every connection made from `context`.
void watch(ssl_ctx_st* context);

// A pool of `threads` workers that start each connection with a fresh count.
std::unique_ptr<httplib::TaskQueue> workerPool(std::size_t threads);

// The head of a request has been read; its body may take `bodyBytes`.
void headRead(std::size_t bodyBytes);

// The answer has gone out: the connection may send the next head, or, after
// `closeAfterAnswer`, nothing more.
void answered();

// Ends the connection once the current answer is out, e.g. because its body stays unread.
void closeAfterAnswer();

// True once this thread's connection has been cut off.
bool cut();

}  // namespace connection_limits
}  // namespace velmora::service
