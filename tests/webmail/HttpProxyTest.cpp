// The HTTP client through a real HTTP proxy (Debian's tinyproxy with Basic
// authorization), started by the fixture on a free loopback port with every
// file in a temporary folder, and stopped and removed afterwards.
#include "webmail/HttpClient.h"

#include "net/CBlockSocket.h"
#include "support/FreePort.h"
#include "support/ScriptedHttpServer.h"
#include "webmail/HttpResponse.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#ifndef QUILL_TINYPROXY
#error "QUILL_TINYPROXY names the tinyproxy program"
#endif

namespace quill {
namespace {

namespace fs = std::filesystem;

const char kUser[] = "quill";
const char kPassword[] = "s3cret";

bool canConnect(int port) {
    try {
        CBlockSocket probe(5, 5);
        probe.connect("127.0.0.1", port);
        return true;
    } catch (const CBlockSocket::Error&) {
        return false;
    }
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

class HttpProxyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("quill-tinyproxy-" + std::to_string(random()));
        fs::create_directories(dir_);
        port_ = freePort(); // tinyproxy binds it at once
        std::ofstream(dir_ / "tinyproxy.conf")
            << "Port " << port_ << "\n"
            << "Listen 127.0.0.1\n"
            << "Timeout 20\n"
            << "LogFile \"" << (dir_ / "tinyproxy.log").string() << "\"\n"
            << "LogLevel Info\n"
            << "PidFile \"" << (dir_ / "tinyproxy.pid").string() << "\"\n"
            << "MaxClients 10\n"
            << "Allow 127.0.0.1\n"
            << "BasicAuth " << kUser << " " << kPassword << "\n";
        // tinyproxy forks into the background and writes its pid file.
        const std::string command =
            std::string("'") + QUILL_TINYPROXY + "' -c " + quoted(dir_ / "tinyproxy.conf");
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        // Wait (bounded) until it accepts connections.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!canConnect(port_)) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "tinyproxy did not start";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    static void TearDownTestSuite() {
        std::string pid;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (pid.empty() && std::chrono::steady_clock::now() < deadline) {
            std::ifstream(dir_ / "tinyproxy.pid") >> pid;
            if (pid.empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        if (!pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos) {
            std::system(("kill " + pid).c_str());
            const std::string alive = "kill -0 " + pid + " 2>/dev/null";
            while (std::system(alive.c_str()) == 0 &&
                   std::chrono::steady_clock::now() < deadline + std::chrono::seconds(5)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    void through(HttpClient& client, const std::string& user, const std::string& password) {
        client.setProxy("127.0.0.1", port_, user, password);
    }

    static fs::path dir_;
    static int port_;
};

fs::path HttpProxyTest::dir_;
int HttpProxyTest::port_ = 0;

TEST_F(HttpProxyTest, RightCredentialsReachTheOrigin) {
    ScriptedHttpServer origin({answer(200, "hello", "Set-Cookie: s=1; path=/\r\n")});
    HttpClient client;
    through(client, kUser, kPassword);
    const HttpResponse response(client.get(origin.url("/hello?x=1"), std::string("c=1; ")));
    EXPECT_EQ(response.statusCode(), 200);
    EXPECT_EQ(response.body(), "hello");
    EXPECT_EQ(response.setCookiePairs(), "s=1; ");
    const std::vector<ScriptedHttpServer::Request> requests = origin.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw.rfind("GET /hello?x=1 HTTP/1.", 0), 0u) << requests[0].raw;
    EXPECT_EQ(requests[0].header("Cookie"), "c=1; ") << requests[0].raw;
}

TEST_F(HttpProxyTest, WrongOrMissingCredentialsGetTheProxysRefusal) {
    // tinyproxy answers a request without credentials with 407 and one with
    // wrong credentials with 401; either way the proxy itself answers.
    const struct {
        std::string user, password;
        int status;
    } cases[] = {{kUser, "wrong", 401}, {"nobody", kPassword, 401}, {"", "", 407}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        HttpClient client;
        through(client, cases[i].user, cases[i].password);
        // Nothing listens at the origin address: only the proxy can answer.
        const HttpResponse response(client.get("http://127.0.0.1:9/never"));
        EXPECT_EQ(response.statusCode(), cases[i].status) << "case " << i;
        EXPECT_EQ(response.headerValue("Server: ").rfind("tinyproxy", 0), 0u) << "case " << i;
    }
}

TEST_F(HttpProxyTest, GzipPageThroughTheProxy) {
    // "Hello, gzip!\r\n" as the gzip program compresses it.
    const std::string gzipHello(
#include "GzipSmall.inc"
        , sizeof(
#include "GzipSmall.inc"
              ) -
              1);
    ScriptedHttpServer origin({"HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + gzipHello});
    HttpClient client;
    through(client, kUser, kPassword);
    const HttpResponse response(client.get(origin.url("/page")));
    EXPECT_EQ(response.statusCode(), 200);
    EXPECT_EQ(response.body(), "Hello, gzip!\r\n");
}

} // namespace
} // namespace quill
