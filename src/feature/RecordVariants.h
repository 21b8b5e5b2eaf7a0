#pragma once

#include <QVariantMap>

#include "core/service/PreviewRecords.h"
#include "core/simulator/EnvironmentSnapshot.h"
#include "core/simulator/SelfTestReport.h"

// The core's records as QML reads them: maps keyed by the records' own field names,
// absent optionals as null, dates as QDateTime, versions in their text form.
namespace quaylet {

QVariantMap toVariantMap(const EnvironmentSnapshot& snapshot);
QVariantMap toVariantMap(const SelfTestReport& report);
QVariantMap toVariantMap(const PreviewManifest& manifest);
// Also with "statusWord".
QVariantMap toVariantMap(const PreviewSummary& summary);

// The service's status as the window and the terminal show it, each word capitalised:
// "processing failed" → "Processing Failed".
QString statusWord(const PreviewSummary& summary);

}  // namespace quaylet
