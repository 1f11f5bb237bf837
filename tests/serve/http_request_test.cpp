// SPDX-License-Identifier: Apache-2.0
// The bounded request parser of `reburn3 serve`, fed whole and a byte at a time: each
// request ends in the same state and status either way, and nothing past a bound is kept.
#include <gtest/gtest.h>

#include <QByteArray>

#include "serve/http_request.h"

namespace {

using reburn3::serve::HttpRequest;
using reburn3::serve::HttpRequestParser;
using State = HttpRequestParser::State;

struct Case {
    const char* name;
    QByteArray bytes;
    State state;
    int status;  // when refused
};

const QByteArray kPost = "POST /api/rounds HTTP/1.1\r\nHost: h\r\nContent-Length: 2\r\n\r\n";

std::vector<Case> cases() {
    return {
        {"get", "GET /api/records?since=4&limit=2 HTTP/1.1\r\nHost: h\r\n\r\n", State::Done, 0},
        {"post", kPost + "{}", State::Done, 0},
        {"bodyNotYetWhole", kPost + "{", State::NeedMore, 0},
        {"headNotYetWhole", "GET / HTTP/1.1\r\nHost: h\r\n", State::NeedMore, 0},
        {"pipelined", kPost + "{}GET / HTTP/1.1\r\n\r\n", State::Done, 0},
        {"headOverBound", "GET / HTTP/1.1\r\nX: " + QByteArray(9000, 'a') + "\r\n\r\n",
         State::Refused, 431},
        {"endlessHead", "GET / HTTP/1.1\r\nX: " + QByteArray(9000, 'a'), State::Refused, 431},
        {"bodyOverBound", "POST / HTTP/1.1\r\nContent-Length: 16385\r\n\r\n", State::Refused, 413},
        {"chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", State::Refused, 501},
        {"twoLengths", "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
         State::Refused, 400},
        {"badLength", "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", State::Refused, 400},
        {"http2", "GET / HTTP/2.0\r\n\r\n", State::Refused, 505},
        {"absoluteTarget", "GET http://x/ HTTP/1.1\r\n\r\n", State::Refused, 400},
        {"lowerMethod", "get / HTTP/1.1\r\n\r\n", State::Refused, 400},
        {"folded", "GET / HTTP/1.1\r\nX: a\r\n b\r\n\r\n", State::Refused, 400},
    };
}

class HttpRequestTest : public testing::TestWithParam<bool> {};

TEST_P(HttpRequestTest, EndsAlikeWholeOrByteByByte) {
    const bool byteByByte = GetParam();
    for (const Case& c : cases()) {
        HttpRequestParser parser;
        if (byteByByte) {
            for (const char b : c.bytes) {
                if (parser.feed(QByteArray(1, b)) != State::NeedMore) {
                    break;
                }
            }
        } else {
            parser.feed(c.bytes);
        }
        EXPECT_EQ(parser.state(), c.state) << c.name;
        if (c.state == State::Refused) {
            EXPECT_EQ(parser.refusalStatus(), c.status) << c.name;
            EXPECT_FALSE(parser.refusalReason().isEmpty()) << c.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Feeds, HttpRequestTest, testing::Bool());

TEST(HttpRequestParse, PathQueryHeadersAndBody) {
    HttpRequestParser parser;
    ASSERT_EQ(parser.feed("GET /api/records?since=4&format=csv HTTP/1.1\r\nHOST: a:1\r\n\r\n"),
              State::Done);
    const HttpRequest& r = parser.request();
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/api/records");
    EXPECT_EQ(r.query.at("since"), "4");
    EXPECT_EQ(r.query.at("format"), "csv");
    EXPECT_EQ(r.header("host"), "a:1");
    HttpRequestParser post;
    ASSERT_EQ(post.feed(kPost + "{}"), State::Done);
    EXPECT_EQ(post.request().body, "{}");
}

}  // namespace
