// SPDX-License-Identifier: MIT
#include "platform/linux/DbusSingleInstance.h"

#include "support/PlatformFixtures.h"

#include <gtest/gtest.h>

namespace exitwise::platform {
namespace {

using Claim = DbusSingleInstance::Claim;

// Two processes, as far as the bus can tell: one connection each.
using DbusSingleInstanceTest = test::ServiceBusTest;

TEST_F(DbusSingleInstanceTest, ALaterStartAsksTheFirstToComeForwardAndStops)
{
    EXPECT_EQ(DbusSingleInstance(QDBusConnection(QStringLiteral("never-connected"))).claim(), Claim::noBus)
        << "without a bus the app still starts";
    {
        DbusSingleInstance first(service());
        int activations = 0;
        QObject::connect(&first, &DbusSingleInstance::activationRequested, [&activations] { ++activations; });
        ASSERT_EQ(first.claim(), Claim::first);

        EXPECT_EQ(DbusSingleInstance(client()).claim(), Claim::alreadyRunning);
        EXPECT_EQ(activations, 1);
    }
    // Once the first instance is gone the name is free for the next start.
    EXPECT_EQ(DbusSingleInstance(client()).claim(), Claim::first);
}

} // namespace
} // namespace exitwise::platform
