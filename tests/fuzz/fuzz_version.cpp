// Version order and the version document: the comparison is a total order, and a reply is
// "available" only for a newer version.
#include "FuzzSupport.h"
#include "update/AutoUpdateService.h"

using namespace velmora;

namespace {

constexpr const char* kRunning = "1.4.0";

int sign(int order) {
    return (order > 0) - (order < 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const platform::HttpReply reply{200, std::string(reinterpret_cast<const char*>(data), size)};
    const CheckOutcome outcome = evaluateVersionReply(reply, kRunning);
    FUZZ_CHECK(outcome.kind != CheckOutcome::Kind::available ||
               compareVersionsNumerically(outcome.version, kRunning) > 0);
    FUZZ_CHECK(outcome.kind != CheckOutcome::Kind::current || outcome.version == kRunning);
    FUZZ_CHECK(outcome.kind != CheckOutcome::Kind::failed || !describe(outcome.error).empty());

    // Three versions, one per line.
    auto lines = fuzz::split(reply.body, '\n');
    lines.resize(3);
    const std::string &a = lines[0], &b = lines[1], &c = lines[2];
    const auto cmp = compareVersionsNumerically;
    FUZZ_CHECK(cmp(a, a) == 0);
    FUZZ_CHECK(sign(cmp(a, b)) == -sign(cmp(b, a)));
    FUZZ_CHECK(!(cmp(a, b) <= 0 && cmp(b, c) <= 0) || cmp(a, c) <= 0);
    FUZZ_CHECK(!(cmp(a, b) >= 0 && cmp(b, c) >= 0) || cmp(a, c) >= 0);
    return 0;
}
