// SPDX-License-Identifier: Apache-2.0
#include "gui/qt_desktop.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>

#include <algorithm>
#include <array>

#include "base/messages.h"
#include "gui/main_window.h"
#include "gui/port_dialog_widget.h"

namespace reburn3 {

namespace {
QString qs(const std::string& text) {
    return QString::fromStdString(text);
}
}  // namespace

void configureFileDialog(QFileDialog& dialog, const FileDialogSettings& settings) {
    // Qt's own dialog everywhere, so that the settings below mean the same on every
    // desktop. It offers no read-only choice, which is what the option setting 4 asks.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // The description names its pattern already ("PF3 Files (*.pf3)"); add it only
    // when it does not.
    const QString pattern = qs(settings.filterPattern);
    QString filter = qs(settings.filterName);
    if (!filter.contains(QLatin1Char('(') + pattern + QLatin1Char(')'))) {
        filter += QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    dialog.setNameFilters({filter});
    if (settings.filterIndex >= 1) {
        // The filter index counts from 1: the entry in force when the dialog opens.
        const QStringList filters = dialog.nameFilters();
        const auto index = static_cast<qsizetype>(settings.filterIndex - 1);
        if (index < filters.size()) {
            dialog.selectNameFilter(filters.at(index));
        }
    }
    dialog.setDefaultSuffix(qs(settings.defaultExt));
    if (!settings.initialDir.empty()) {
        dialog.setDirectory(qs(settings.initialDir));
    }
    if (!settings.initialName.empty()) {
        dialog.selectFile(qs(settings.initialName));
    }
    showColumnsWhole(dialog);
}

// The detail view with its name, size, type and date columns, each wide enough for
// what it shows, and a dialog wide enough for all four.
void showColumnsWhole(QFileDialog& dialog) {
    dialog.setViewMode(QFileDialog::Detail);
    const QFontMetrics metrics = dialog.fontMetrics();
    const int ch = metrics.averageCharWidth();
    const std::array<int, 4> columns = {40 * ch, 16 * ch, 14 * ch, 30 * ch};
    if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
            view->header()->resizeSection(i, columns[static_cast<std::size_t>(i)]);
        }
    }
    // The columns, the sidebar of places and the frames around them.
    const int width = 40 * ch + 16 * ch + 14 * ch + 30 * ch + 24 * ch;
    dialog.resize(std::max(dialog.sizeHint().width(), width),
                  std::max(dialog.sizeHint().height(), 30 * metrics.height()));
}

QtDesktop::QtDesktop() = default;

void QtDesktop::attach(MainWindow* mainWindow, PortDialogWidget* portDialog) {
    m_main = mainWindow;
    m_port = portDialog;
    if (m_port && m_pendingOption != 0) {
        m_port->selectOption(m_pendingOption);
    }
}

std::optional<std::string> QtDesktop::runOpenFileDialog(const FileDialogSettings& settings) {
    QFileDialog dialog(m_main);
    dialog.setObjectName(QStringLiteral("CommonDialog1"));
    configureFileDialog(dialog, settings);
    if (dialog.exec() != QDialog::Accepted) {
        if (settings.cancelIsError) {
            return std::nullopt;
        }
        return std::string();
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return std::string();
    }
    return QDir::toNativeSeparators(chosen.first()).toStdString();
}

void QtDesktop::showMainWindow() {
    if (m_main) {
        m_main->show();
    }
}

void QtDesktop::showPortDialog() {
    if (m_port) {
        m_port->show();
        m_port->raise();
        m_port->activateWindow();
    }
}

void QtDesktop::hidePortDialog() {
    if (m_port) {
        m_port->hide();
    }
}

void QtDesktop::selectPortOption(int index) {
    // The state reset selects an option before the dialog exists to hold it.
    m_pendingOption = index;
    if (m_port) {
        m_port->selectOption(index);
    }
}

// No is the default: Enter or Esc keeps the run.
bool QtDesktop::askYesNo(const std::string& text) {
    QMessageBox box(
        QMessageBox::Question,
        QString::fromUtf8(text::kAppTitle.data(), static_cast<qsizetype>(text::kAppTitle.size())),
        qs(text), QMessageBox::Yes | QMessageBox::No, m_main);
    box.setObjectName(QStringLiteral("confirmBox"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtDesktop::showMessageBox(const std::string& text) {
    QMessageBox box(
        QMessageBox::NoIcon,
        QString::fromUtf8(text::kAppTitle.data(), static_cast<qsizetype>(text::kAppTitle.size())),
        qs(text), QMessageBox::Ok, m_main);
    box.exec();
}

// Everything goes at once: the windows disappear, and the event loop is told to
// return, so no handler of ours runs after this one.
void QtDesktop::endProcess() {
    m_ended = true;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        window->hide();
    }
    if (m_endAction) {
        m_endAction();
    } else {
        QCoreApplication::exit(0);
    }
}

std::string QtDesktop::currentDirectory() const {
    return QDir::currentPath().toStdString();
}

}  // namespace reburn3
