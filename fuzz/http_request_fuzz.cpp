// SPDX-License-Identifier: Apache-2.0
// Any bytes as what a client of `reburn3 serve` sends on a connection: the request parser
// must never read past a bound nor crash, must reach the same verdict (and the same
// request) whether the bytes come at once or in two pieces split anywhere, and a request
// it takes must keep the bounds it promises.
#include <cstdint>
#include <cstdlib>

#include "serve/http_request.h"

using reburn3::serve::HttpRequest;
using reburn3::serve::HttpRequestParser;

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool same(const HttpRequest& a, const HttpRequest& b) {
    return a.method == b.method && a.target == b.target && a.path == b.path && a.query == b.query &&
           a.headers == b.headers && a.body == b.body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte says where the second parser's input is split.
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1,
                           static_cast<qsizetype>(size - 1));
    const qsizetype split = bytes.isEmpty() ? 0 : data[0] % (bytes.size() + 1);

    HttpRequestParser whole;
    const HttpRequestParser::State verdict = whole.feed(bytes);
    HttpRequestParser pieces;
    pieces.feed(bytes.left(split));
    const HttpRequestParser::State again = pieces.feed(bytes.mid(split));
    require(verdict == again);

    switch (verdict) {
        case HttpRequestParser::State::NeedMore:
            require(bytes.size() <= HttpRequest::kMaxHead + HttpRequest::kMaxBody);
            break;
        case HttpRequestParser::State::Refused:
            require(whole.refusalStatus() == pieces.refusalStatus());
            require(whole.refusalStatus() >= 400 && whole.refusalStatus() <= 505);
            require(!whole.refusalReason().isEmpty());
            break;
        case HttpRequestParser::State::Done: {
            const HttpRequest& r = whole.request();
            require(same(r, pieces.request()));
            require(!r.method.isEmpty() && r.target.startsWith('/'));
            require(r.body.size() <= HttpRequest::kMaxBody);
            require(r.headers.size() <= HttpRequest::kMaxHeaders);
            require(bytes.indexOf("\r\n\r\n") + 4 <= HttpRequest::kMaxHead);
            break;
        }
    }
    // What follows a verdict is not read.
    if (verdict != HttpRequestParser::State::NeedMore) {
        require(whole.feed(bytes) == verdict);
    }
    return 0;
}
