// SPDX-License-Identifier: Apache-2.0
// x_probe: what the Wine end-to-end run (tests/windows/wine/wine_e2e.sh) asks of the X
// display the Windows programs draw on, answered natively with Qt's xcb platform:
//
//   x_probe grab FILE [WINDOW]   writes the screen, or the X window WINDOW (a decimal or
//                                0x id, as xdotool prints it), to FILE as a PNG
//   x_probe grab FILE X,Y,W,H    writes that rectangle of the screen (a window with the
//                                frame its window manager drew around it)
//   x_probe clipboard            prints the clipboard's text (Wine hands the Windows
//                                clipboard to X's CLIPBOARD selection)
//
// Exit status 0 on success, 1 when the grab or the clipboard failed, 2 on a usage error.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPixmap>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdio>

namespace {

int grab(const QString& file, const QString& window) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "x_probe: no screen\n");
        return 1;
    }
    bool ok = true;
    const QStringList rect = window.split(QLatin1Char(','));
    QPixmap picture;
    if (rect.size() == 4) {
        int r[4] = {};
        for (int i = 0; i < 4 && ok; ++i) {
            r[i] = rect[i].toInt(&ok);
        }
        if (ok) {
            picture = screen->grabWindow(0, r[0], r[1], r[2], r[3]);
        }
    } else {
        const WId id = window.isEmpty() ? 0 : static_cast<WId>(window.toULongLong(&ok, 0));
        if (ok) {
            picture = screen->grabWindow(id);
        }
    }
    if (!ok) {
        std::fprintf(stderr, "x_probe: %s is no window id and no X,Y,W,H\n", qPrintable(window));
        return 2;
    }
    if (picture.isNull() || !picture.save(file, "PNG")) {
        std::fprintf(stderr, "x_probe: cannot grab into %s\n", qPrintable(file));
        return 1;
    }
    return 0;
}

int clipboard() {
    // The selection owner (Wine) answers through the event loop: give it a moment.
    int status = 1;
    QTimer::singleShot(300, [&status] {
        const QString text = QGuiApplication::clipboard()->text();
        std::fwrite(text.toUtf8().constData(), 1, static_cast<size_t>(text.toUtf8().size()),
                    stdout);
        status = text.isEmpty() ? 1 : 0;
        QGuiApplication::quit();
    });
    QGuiApplication::exec();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() >= 3 && args.size() <= 4 && args[1] == QLatin1String("grab")) {
        return grab(args[2], args.size() == 4 ? args[3] : QString());
    }
    if (args.size() == 2 && args[1] == QLatin1String("clipboard")) {
        return clipboard();
    }
    std::fprintf(stderr, "usage: x_probe grab FILE [WINDOW|X,Y,W,H] | x_probe clipboard\n");
    return 2;
}
