// SPDX-License-Identifier: MIT
// Helpers of the platform tests: the environment, files, the event loop, the journal tool and
// private buses.
#pragma once

#include "support/EventLoop.h"
#include "support/Files.h"
#include "support/JournalFixture.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QString>

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

#define SKIP_WITHOUT_JOURNAL_TOOL()                                                                          \
    if (!::exitwise::test::JournalFixture::available()) {                                                    \
        GTEST_SKIP() << ::exitwise::test::JournalFixture::kRemoteTool                                        \
                     << " is missing (package systemd-journal-remote)";                                      \
    }

namespace exitwise::test {

// Sets an environment variable for one scope; a null value unsets it.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnvironment() { m_old ? ::setenv(m_name, m_old->c_str(), 1) : ::unsetenv(m_name); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// Writes `text` as the file at `path`, creating its directories; returns the path.
inline std::filesystem::path writeTextFile(const std::filesystem::path& path, const std::string& text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// A connection of its own to a bus, as a separate process would have; closed at the end.
class BusConnection
{
public:
    explicit BusConnection(const QString& address)
        : m_name(QStringLiteral("test-connection-%1").arg(++s_count))
        , connection(QDBusConnection::connectToBus(address, m_name))
    {}
    ~BusConnection() { QDBusConnection::disconnectFromBus(m_name); }
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

private:
    inline static int s_count = 0;
    QString m_name;

public:
    QDBusConnection connection;
};

// One private bus for the suite and, per test, a service's and its client's connection to it.
// Tests skip when no bus could be started.
class ServiceBusTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_bus = std::make_unique<PrivateBus>(); }
    static void TearDownTestSuite() { s_bus.reset(); }

    void SetUp() override
    {
        if (!s_bus->failure().empty()) {
            GTEST_SKIP() << s_bus->failure();
        }
        m_service = std::make_unique<BusConnection>(s_bus->address());
        m_client = std::make_unique<BusConnection>(s_bus->address());
        ASSERT_TRUE(service().isConnected() && client().isConnected());
    }

    QDBusConnection& service() { return m_service->connection; }
    QDBusConnection& client() { return m_client->connection; }

    inline static std::unique_ptr<PrivateBus> s_bus;

private:
    std::unique_ptr<BusConnection> m_service;
    std::unique_ptr<BusConnection> m_client;
};

} // namespace exitwise::test
