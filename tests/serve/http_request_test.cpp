// SPDX-License-Identifier: Apache-2.0
// The bounded request parser of `reburn3 serve`, fed whole and a byte at a time: each
// request ends in the same state and status either way, and nothing past a bound is kept.
#include <gtest/gtest.h>

#include <QByteArray>

#include "serve/api_routes.h"
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

// Which Host names the station, by the address the request came in on: DNS rebinding
// (a foreign name resolving to the station) is refused in every mode; loopback is all of
// 127.0.0.0/8 and ::1 alike.
TEST(HostCheck, NamesTheStationOnly) {
    using reburn3::serve::hostNamesStation;
    const QStringList allowed{"station-4.line.example"};
    const QHostAddress lo("127.0.0.1"), lo2("127.0.0.2"), lo6("::1"), lan("192.0.2.7");
    struct Row {
        const char* host;
        const QHostAddress& local;
        bool named;
    } const rows[] = {
        {"127.0.0.1", lo, true},
        {"localhost", lo, true},
        {"LocalHost", lo6, true},
        {"[::1]", lo6, true},
        {"127.0.0.2", lo2, true},
        {"127.0.0.1", lo2, true},
        {"rebound.example", lo, false},
        {"rebound.example", lan, false},
        {"192.0.2.7", lan, true},
        {"192.0.2.8", lan, false},
        {"localhost", lan, false},
        {"127.0.0.1", lan, false},
        {"Station-4.LINE.example", lan, true},
        {"station-4.line.example.evil", lan, false},
        {"[::ffff:192.0.2.7]", lan, true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(hostNamesStation(row.host, row.local, allowed), row.named) << row.host;
    }
}
