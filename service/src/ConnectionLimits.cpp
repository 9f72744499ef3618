#include "ConnectionLimits.h"

#include <fcntl.h>
#include <httplib.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "VelmoraService.h"

namespace velmora::service::connection_limits {
namespace {

// Record headers are counted with the full record length, so a body is allowed a little more
// than its own size, and each phase one record beyond, as records straddle heads and bodies.
constexpr std::size_t kRecordSlack =
    2 * (SSL3_RT_MAX_PLAIN_LENGTH + SSL3_RT_MAX_ENCRYPTED_OVERHEAD);

struct Connection {
    int socket = -1;
    std::size_t received = 0;
    std::size_t allowance = kMaxHeadBytes + kRecordSlack;
    bool closing = false;
    bool cut = false;
};
thread_local Connection connection;

// Puts /dev/null in the place of the socket: the peer's connection is closed at once, and
// httplib's next read or write on the descriptor fails, so it ends the connection as though the
// peer had gone. The descriptor itself stays httplib's to close.
void cutNow(const char* why) {
    if (connection.cut || connection.socket < 0) {
        return;
    }
    static const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    connection.cut = true;
    ::shutdown(connection.socket, SHUT_RDWR);
    ::dup3(devNull, connection.socket, O_CLOEXEC);
    if (why) {
        logServiceLine(why);
    }
}

void onRecord(int writing, int, int contentType, const void* bytes, std::size_t length, SSL* ssl,
              void*) {
    if (writing || contentType != SSL3_RT_HEADER || length < SSL3_RT_HEADER_LENGTH) {
        return;
    }
    const auto* header = static_cast<const unsigned char*>(bytes);
    connection.socket = SSL_get_fd(ssl);
    connection.received += static_cast<std::size_t>(header[3]) << 8 | header[4];
    if (connection.received > connection.allowance) {
        cutNow("Cut off a connection that sent more than its request may hold");
    }
}

class WorkerPool : public httplib::ThreadPool {
  public:
    using ThreadPool::ThreadPool;
    void enqueue(std::function<void()> serve) override {
        ThreadPool::enqueue([serve = std::move(serve)] {
            connection = {};
            serve();
        });
    }
};

}  // namespace

void watch(ssl_ctx_st* context) {
    SSL_CTX_set_msg_callback(context, onRecord);
}

std::unique_ptr<httplib::TaskQueue> workerPool(std::size_t threads) {
    return std::make_unique<WorkerPool>(threads);
}

void headRead(std::size_t bodyBytes) {
    connection.received = 0;
    connection.allowance = bodyBytes + bodyBytes / 16 + kRecordSlack;
}

void answered() {
    if (connection.closing) {
        cutNow(nullptr);
    }
    connection.received = 0;
    connection.allowance = kMaxHeadBytes + kRecordSlack;
}

void closeAfterAnswer() {
    connection.closing = true;
}

bool cut() {
    return connection.cut;
}

}  // namespace velmora::service::connection_limits
