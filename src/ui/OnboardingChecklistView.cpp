// SPDX-License-Identifier: MIT
#include "ui/OnboardingChecklistView.h"

#include "ui/Style.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace exitwise::ui {

OnboardingChecklistView::OnboardingChecklistView(QWidget* parent)
    : QWidget(parent)
{
    setFixedWidth(kWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->setSpacing(16);

    auto* title = style::makeLabel(QStringLiteral("Getting Started"), style::TextStyle::title2, false, this);
    title->setFont(style::font(style::TextStyle::title2, true));
    layout->addWidget(title);
    auto* intro = style::makeLabel(
        QStringLiteral("Complete this checklist to get value from Exitwise in your first session."),
        style::TextStyle::body, true, this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    const std::array<QString, 4> items = {
        QStringLiteral("Keep Exitwise running in the background"),
        QStringLiteral("Trigger one sample app close (quit or force quit)"),
        QStringLiteral("Open the diagnosis and read \u201CWhat happened / Why / What to do\u201D"),
        QStringLiteral("Mark the result as Helpful or Not helpful"),
    };
    for (std::size_t i = 0; i < items.size(); ++i) {
        m_boxes[i] = new QCheckBox(items[i], this);
        connect(m_boxes[i], &QCheckBox::toggled, this, &OnboardingChecklistView::updateCompleteButton);
        layout->addWidget(m_boxes[i]);
    }

    layout->addWidget(style::makeLabel(QStringLiteral("Current stage: private alpha (beta soon)."),
                                       style::TextStyle::caption, true, this));

    auto* buttons = new QHBoxLayout;
    m_skip = new QPushButton(QStringLiteral("Skip for now"), this);
    m_skip->setAutoDefault(false);
    m_complete = new QPushButton(QStringLiteral("Complete setup"), this);
    m_complete->setDefault(true);
    buttons->addWidget(m_skip);
    buttons->addStretch(1);
    buttons->addWidget(m_complete);
    layout->addLayout(buttons);

    connect(m_skip, &QPushButton::clicked, this, &OnboardingChecklistView::skipped);
    connect(m_complete, &QPushButton::clicked, this, [this] {
        if (m_complete->isEnabled()) {
            emit completed();
        }
    });
    updateCompleteButton();
}

void OnboardingChecklistView::updateCompleteButton()
{
    bool allTicked = true;
    for (const QCheckBox* box : m_boxes) {
        allTicked = allTicked && box->isChecked();
    }
    m_complete->setEnabled(allTicked);
}

} // namespace exitwise::ui
