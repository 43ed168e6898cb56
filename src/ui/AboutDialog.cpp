// SPDX-License-Identifier: MIT
#include "ui/AboutDialog.h"

#include "ui/Style.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace exitwise::ui {

namespace {

QLabel* paragraph(const QString& text, style::TextStyle type, bool secondary, QWidget* parent)
{
    QLabel* label = style::makeLabel(text, type, secondary, parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

} // namespace

AboutDialog::AboutDialog(const AboutInfo& info, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Exitwise"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(6);

    QLabel* name = style::makeLabel(QStringLiteral("Exitwise"), style::TextStyle::title2, false, this);
    name->setFont(style::font(style::TextStyle::title2, true));
    layout->addWidget(name);
    m_version = paragraph(QStringLiteral("Version ") + info.version, style::TextStyle::body, true, this);
    layout->addWidget(m_version);
    layout->addWidget(paragraph(QStringLiteral("Explains how and why your desktop applications closed."),
                                style::TextStyle::body, false, this));

    layout->addSpacing(10);
    layout->addWidget(
        style::makeLabel(QStringLiteral("History kept in"), style::TextStyle::headline, false, this));
    m_dataDirectory = paragraph(info.dataDirectory, style::TextStyle::caption, true, this);
    layout->addWidget(m_dataDirectory);

    layout->addSpacing(10);
    layout->addWidget(style::makeLabel(QStringLiteral("Where the evidence comes from"),
                                       style::TextStyle::headline, false, this));
    m_sources =
        paragraph(QStringLiteral("\u2022 How each application's process ended: its exit status, or the "
                                 "signal that stopped it\n"
                                 "\u2022 Crash records: systemd-coredump entries, apport reports in "
                                 "/var/crash, ABRT problem directories\n"
                                 "\u2022 The systemd journal: kernel, memory-killer and loader messages, "
                                 "and the applications' own output"),
                  style::TextStyle::caption, true, this);
    layout->addWidget(m_sources);
    if (info.evidenceNote && !info.evidenceNote->isEmpty()) {
        QString note = *info.evidenceNote;
        note[0] = note[0].toUpper();
        m_note = paragraph(note + QLatin1Char('.'), style::TextStyle::caption, false, this);
        style::setTextTone(m_note, style::Tone::caution);
        m_note->setAccessibleName(QStringLiteral("Evidence you cannot read"));
        layout->addWidget(m_note);
    }

    layout->addSpacing(8);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(460);
    setMaximumWidth(560);
}

} // namespace exitwise::ui
