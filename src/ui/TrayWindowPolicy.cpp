// SPDX-License-Identifier: MIT
#include "ui/TrayWindowPolicy.h"

#include "ui/AppDelegate.h"
#include "ui/StatusItem.h"

#include <QApplication>

namespace exitwise::ui {

TrayWindowPolicy::TrayWindowPolicy(AppDelegate& delegate,
                                   QWidget& window,
                                   TrayWindowPolicyOptions options,
                                   QObject* parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_window(&window)
    , m_options(std::move(options))
{
    m_trayWait.setSingleShot(true);
    m_trayWait.setInterval(m_options.trayWait);
    connect(&m_trayWait, &QTimer::timeout, this, [this] {
        if (!hasTray() && m_window) {
            m_window->show();
        }
    });
    connect(&m_delegate, &AppDelegate::statusItemInstalled, this, [this] {
        m_trayWait.stop();
        apply();
    });
}

bool TrayWindowPolicy::hasTray() const
{
    return m_delegate.statusItem() != nullptr;
}

void TrayWindowPolicy::start()
{
    apply();
    if (!m_window) {
        return;
    }
    if (!m_options.startInTray) {
        m_window->show();
    } else if (!hasTray()) {
        m_trayWait.start();
    }
}

void TrayWindowPolicy::apply()
{
    const bool tray = hasTray();
    QApplication::setQuitOnLastWindowClosed(!tray);
    if (!m_options.showNote) {
        return;
    }
    QString note = tray ? QString() : QString::fromLatin1(kNoTrayNote);
    if (!m_options.otherNote.isEmpty()) {
        note += (note.isEmpty() ? QString() : QStringLiteral(" ")) + m_options.otherNote;
    }
    m_options.showNote(note);
}

} // namespace exitwise::ui
