// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

class QCoreApplication;
class QSocketNotifier;

namespace exitwise::cli {

// Quits the application's event loop on SIGINT or SIGTERM, so everything shuts down through
// the normal path, between writes. Keep the returned object for as long as the loop runs; null
// when the handler could not be set up (the default signal actions then stay).
[[nodiscard]] std::unique_ptr<QSocketNotifier> installStopHandler(QCoreApplication& application);

} // namespace exitwise::cli
