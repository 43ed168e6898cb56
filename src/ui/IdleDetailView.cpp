// SPDX-License-Identifier: MIT
#include "ui/IdleDetailView.h"

#include "ui/Style.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace exitwise::ui {

IdleDetailView::IdleDetailView(QWidget* parent)
    : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(24, 24, 24, 24);

    auto* content = new QWidget(this);
    content->setMaximumWidth(kMaxContentWidth);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    layout->addWidget(
        style::makeLabel(QStringLiteral("No events yet"), style::TextStyle::title2, false, content));
    auto* lead = style::makeLabel(QStringLiteral("Leave Exitwise running. The next time an app closes "
                                                 "unexpectedly, you\u2019ll see the reason here."),
                                  style::TextStyle::body, true, content);
    lead->setWordWrap(true);
    layout->addWidget(lead);

    auto* box = new QFrame(content);
    box->setObjectName(QStringLiteral("firstDiagnosisBox"));
    const QColor fill = style::withAlpha(style::secondary(this), 0.08);
    box->setStyleSheet(QStringLiteral("#firstDiagnosisBox { background-color: %1; border-radius: 10px; }")
                           .arg(fill.name(QColor::HexArgb)));
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(12, 12, 12, 12);
    boxLayout->setSpacing(8);
    boxLayout->addWidget(style::makeLabel(QStringLiteral("What your first diagnosis will show"),
                                          style::TextStyle::headline, false, box));
    for (const QString& line :
         {QStringLiteral("\u2022 What happened (crash, quit request, or external kill)"),
          QStringLiteral("\u2022 Why this confidence level was assigned"),
          QStringLiteral("\u2022 A concrete next action you can copy/share")}) {
        boxLayout->addWidget(style::makeLabel(line, style::TextStyle::caption, true, box));
    }
    layout->addWidget(box);

    // Leading-aligned and as wide as allowed: an alignment flag would size the column to its
    // unwrapped hint and cut the wrapped lines' height short.
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(content, 1);
    row->addStretch(0);
    outer->addLayout(row);
    outer->addStretch(1);
}

} // namespace exitwise::ui
