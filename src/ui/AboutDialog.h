// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

#include <optional>

class QLabel;

namespace exitwise::ui {

struct AboutInfo
{
    QString version;
    QString dataDirectory;
    // What evidence this user cannot read, as the composition words it; nothing when all of it
    // is readable or that is not known.
    std::optional<QString> evidenceNote;
};

// "About Exitwise": the version, where the history is kept and where the evidence comes from.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(const AboutInfo& info, QWidget* parent = nullptr);

    [[nodiscard]] QLabel* versionLabel() const { return m_version; }
    [[nodiscard]] QLabel* dataDirectoryLabel() const { return m_dataDirectory; }
    [[nodiscard]] QLabel* sourcesLabel() const { return m_sources; }
    // Null without an evidence note.
    [[nodiscard]] QLabel* evidenceNoteLabel() const { return m_note; }

private:
    QLabel* m_version = nullptr;
    QLabel* m_dataDirectory = nullptr;
    QLabel* m_sources = nullptr;
    QLabel* m_note = nullptr;
};

} // namespace exitwise::ui
