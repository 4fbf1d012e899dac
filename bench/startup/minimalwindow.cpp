// The minimal Qt Quick window that bench_startup measures the client against: a 400 x 760
// ApplicationWindow with a Label, a TextField and a Button, built with nothing but Qt, printing the
// same line as the client on its first frame.
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

#include <cstdio>

namespace {

constexpr char firstFrameLine[] = "[Main] First frame";

constexpr char minimalWindow[] = R"(
import QtQuick
import QtQuick.Controls

ApplicationWindow {
    width: 400
    height: 760
    visible: true

    Column {
        anchors.centerIn: parent
        spacing: 12

        Label { text: "Label" }
        TextField { placeholderText: "TextField" }
        Button { text: "Button" }
    }
}
)";

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    engine.loadData(minimalWindow);
    auto *window = engine.rootObjects().isEmpty()
        ? nullptr
        : qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    if (!window)
        return 1;
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [] {
            std::fprintf(stderr, "%s\n", firstFrameLine);
            std::fflush(stderr);
        },
        Qt::SingleShotConnection);
    return QGuiApplication::exec();
}
