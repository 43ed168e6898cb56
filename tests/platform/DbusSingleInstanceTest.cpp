// SPDX-License-Identifier: MIT
#include "platform/linux/DbusSingleInstance.h"

#include "support/PrivateBus.h"

#include <QDBusConnectionInterface>

#include <gtest/gtest.h>

namespace exitwise::platform {
namespace {

using Claim = DbusSingleInstance::Claim;

TEST(DbusSingleInstance, ALaterStartAsksTheFirstToComeForwardAndStops)
{
    test::PrivateBus bus;
    if (!bus.failure().empty()) {
        GTEST_SKIP() << bus.failure();
    }
    // Two processes, as far as the bus can tell: one connection each.
    QDBusConnection firstBus = QDBusConnection::connectToBus(bus.address(), QStringLiteral("first"));
    QDBusConnection laterBus = QDBusConnection::connectToBus(bus.address(), QStringLiteral("later"));
    {
        DbusSingleInstance first(firstBus);
        int activations = 0;
        QObject::connect(&first, &DbusSingleInstance::activationRequested, [&activations] { ++activations; });
        ASSERT_EQ(first.claim(), Claim::first);

        DbusSingleInstance later(laterBus);
        EXPECT_EQ(later.claim(), Claim::alreadyRunning);
        EXPECT_EQ(activations, 1);
        EXPECT_EQ(DbusSingleInstance(laterBus).claim(), Claim::alreadyRunning);
        EXPECT_EQ(activations, 2);
    }
    // Once the first instance is gone the name is free for the next start.
    DbusSingleInstance next(laterBus);
    EXPECT_EQ(next.claim(), Claim::first);
    QDBusConnection::disconnectFromBus(QStringLiteral("first"));
    QDBusConnection::disconnectFromBus(QStringLiteral("later"));
}

TEST(DbusSingleInstance, WithoutABusTheAppStillStarts)
{
    QDBusConnection none =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"));
    DbusSingleInstance instance(none);
    EXPECT_EQ(instance.claim(), Claim::noBus);
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

} // namespace
} // namespace exitwise::platform
