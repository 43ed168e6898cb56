// SPDX-License-Identifier: MIT
#include "app/DiagnosisHash.h"

#include <QByteArray>
#include <QCryptographicHash>

namespace exitwise::app {

std::string diagnosisHash(const core::Diagnosis& diagnosis)
{
    std::string text(core::rawValue(diagnosis.endState));
    text += '|';
    text += core::rawValue(diagnosis.dominantCause);
    text += '|';
    text += core::rawValue(diagnosis.confidence);
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(text.data(), static_cast<qsizetype>(text.size())), QCryptographicHash::Sha256);
    return digest.toHex().toStdString();
}

} // namespace exitwise::app
