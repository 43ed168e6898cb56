// SPDX-License-Identifier: MIT
// "events.json" as the application loads it at start, and everything a loaded event flows into:
// the next save, the start-up re-diagnosis, both exports and the notification.

#include "FuzzSupport.h"
#include "app/AppModel.h"
#include "app/DiagnosisHash.h"
#include "app/NotificationManager.h"
#include "app/stores/EventStore.h"
#include "app/stores/Export.h"
#include "core/DiagnosisEngine.h"
#include "core/RecordJson.h"
#include "core/Text.h"

using namespace exitwise;
namespace json = core::json;

namespace {

void checkExports(const std::vector<app::AppEvent>& events)
{
    const std::string csv = app::exporting::csvText(events);
    if (!core::text::isValidUtf8(csv)) {
        fuzz::fail("the CSV export is not UTF-8");
    }
    json::Json exported;
    if (!fuzz::parseJson(app::exporting::jsonText(events), exported) || !exported.is_array()
        || exported.size() != events.size()) {
        fuzz::fail("the JSON export does not read back as one object per event");
    }
}

void checkNotification(const app::AppEvent& event)
{
    const app::NotificationRequest request = app::NotificationManager::makeRequest(event);
    if (request.identifier != QString::fromStdString(event.id.toString())
        || request.content.userInfo.value(QString::fromLatin1(app::NotificationManager::kEventIdKey))
               != request.identifier) {
        fuzz::fail("the notification does not lead back to its event");
    }
    if (request.content.title.contains(QLatin1Char('\n'))) {
        fuzz::fail("a notification title spans lines");
    }
}

void checkRediagnosis(const app::AppEvent& event)
{
    const core::EventContext context = core::contextAround(event, app::AppModel::kCorrelationSeconds);
    const core::Diagnosis fresh =
        core::DiagnosisEngine().diagnose(context, event.diagnosis.signalsUsed, false);
    static_cast<void>(app::diagnosisHash(fresh));
    fuzz::expectStableEncoding(
        json::encode(fresh), [](const json::Json& v) { return json::decodeDiagnosis(v); },
        [](const core::Diagnosis& d) { return json::encode(d); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    app::EventStore::EventFile file;
    try {
        file = app::EventStore::decodeEventFile(fuzz::asText(data, size));
    } catch (const json::DecodeError&) {
        return 0;
    }
    const std::string saved = app::EventStore::encodeEventFile(file.events, file.newerEvents);
    try {
        const app::EventStore::EventFile again = app::EventStore::decodeEventFile(saved);
        if (again.events.size() != file.events.size()
            || again.newerEvents.size() != file.newerEvents.size()) {
            fuzz::fail("saving and loading changed the number of events", saved);
        }
        const std::string savedAgain = app::EventStore::encodeEventFile(again.events, again.newerEvents);
        if (savedAgain != saved) {
            fuzz::fail("an event file changed across save and load", saved + "\n  became\n  " + savedAgain);
        }
    } catch (const json::DecodeError& error) {
        fuzz::fail("a saved event file does not load", saved + "\n  " + error.what());
    }

    checkExports(file.events);
    for (const app::AppEvent& event : file.events) {
        checkNotification(event);
        checkRediagnosis(event);
    }
    return 0;
}
