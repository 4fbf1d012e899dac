// Start-up cost of the client beside a minimal Qt Quick window (a 400 x 760 ApplicationWindow with
// a Label, a TextField and a Button), measured the same way in the same run; not a test, run by
// hand under Xvfb inside a private network namespace, so the client's panel requests stay on
// loopback:
//
//     unshare -n sh -c 'ip link set lo up; xvfb-run -a build/bin/bench_startup [runs]'
//
// Each run starts both programs afresh (fresh profile, alternating order) and takes the time from
// starting the process to its first swapped frame, and the peak resident memory (VmHWM) 3 s later,
// when start-up work deferred past the first frame has run. Prints the medians and their ratios.
//
//     xvfb-run -a build/bin/bench_startup animation [seconds] [scene.qml]
//
// CPU of the connected power button's running animations (or of another scene that imports
// appclient), as a share of one core over the given time (10 s), with the window shown, then
// minimised, then hidden.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

Q_IMPORT_QML_PLUGIN(appclientPlugin)

namespace {

// The line both programs print on their first frame (the client when QIVRO_FIRST_FRAME_PROBE is
// set).
constexpr char firstFrameLine[] = "[Main] First frame";

constexpr char connectedButton[] = R"(
import QtQuick
import QtQuick.Controls
import appclient

ApplicationWindow {
    width: 400
    height: 760
    visible: true
    color: Theme.appBackgroundColor

    PowerButton {
        anchors.centerIn: parent
        connected: true
    }
}
)";

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int runAnimation(int argc, char *argv[])
{
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("qivro-bench"));
    QGuiApplication::setApplicationName(QStringLiteral("qivro"));
    const int seconds = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 10;
    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    if (argc > 3)
        engine.load(QString::fromLocal8Bit(argv[3]));
    else
        engine.loadData(connectedButton);
    auto *window = engine.rootObjects().isEmpty()
        ? nullptr
        : qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    if (!window)
        return 1;
    wait(2000); // start-up and the glow's fade-in are not the animation's cost
    std::printf("scene graph: %s\n",
        qPrintable(window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software
                ? QStringLiteral("software")
                : QStringLiteral("hardware API (under Xvfb: Mesa's software GL)")));
    const auto measure = [seconds](const char *state) {
        const double before = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        wait(seconds * 1000);
        const double share = (cpuSeconds() - before) / (double(wall.elapsed()) / 1000.0);
        std::printf("%s: %.1f %% of a core over %d s\n", state, share * 100.0, seconds);
    };
    measure("shown");
    window->showMinimized();
    wait(500);
    measure("minimised");
    window->hide();
    wait(500);
    measure("hidden");
    return 0;
}

struct Sample
{
    double firstFrameMs = -1;
    double peakKiB = -1;
};

double peakResidentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').constFirst().toDouble();
    }
    return -1;
}

Sample measure(const QString &program, const QStringList &arguments)
{
    QTemporaryDir profile;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        environment.insert(QString::fromLatin1(name), profile.path() + QLatin1Char('/') + name);
    environment.insert(QStringLiteral("QIVRO_FIRST_FRAME_PROBE"), QStringLiteral("1"));
    // Refused at once on loopback: the client starts as it does when the panel is away.
    environment.insert(QStringLiteral("QIVRO_API_HOST"), QStringLiteral("127.0.0.1:9"));
    environment.insert(QStringLiteral("QIVRO_VERSION_FILE_URL"),
        QStringLiteral("https://127.0.0.1:9/version.json"));

    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    Sample sample;
    QElapsedTimer clock;
    QByteArray seen;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::readyRead, &loop, [&] {
        seen += process.readAll();
        if (sample.firstFrameMs < 0 && seen.contains(firstFrameLine)) {
            sample.firstFrameMs = double(clock.nsecsElapsed()) / 1e6;
            QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        }
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    clock.start();
    process.start(program, arguments);
    loop.exec();
    if (process.state() == QProcess::Running) {
        sample.peakKiB = peakResidentKiB(process.processId());
        process.kill();
        process.waitForFinished();
    }
    if (sample.firstFrameMs < 0)
        std::fprintf(
            stderr, "%s gave no first frame:\n%s\n", qPrintable(program), seen.constData());
    return sample;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "animation") == 0)
        return runAnimation(argc, argv);

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 10;
    const QString minimal = QStringLiteral(QIVRO_MINIMAL_WINDOW_PATH);
    const QString client = QStringLiteral(QIVRO_CLIENT_PATH);

    std::vector<double> minimalFrame, minimalPeak, clientFrame, clientPeak;
    for (int run = 0; run < runs; ++run) {
        // Alternating order, so neither program always starts on the other's warm caches.
        for (int turn = 0; turn < 2; ++turn) {
            const bool minimalTurn = (run + turn) % 2 == 0;
            const Sample sample = minimalTurn ? measure(minimal, {}) : measure(client, {});
            if (sample.firstFrameMs < 0 || sample.peakKiB < 0)
                return 1;
            (minimalTurn ? minimalFrame : clientFrame).push_back(sample.firstFrameMs);
            (minimalTurn ? minimalPeak : clientPeak).push_back(sample.peakKiB);
        }
        std::printf("run %2d: minimal %7.1f ms %8.0f KiB, client %7.1f ms %8.0f KiB\n", run + 1,
            minimalFrame.back(), minimalPeak.back(), clientFrame.back(), clientPeak.back());
    }
    const double mf = median(minimalFrame), cf = median(clientFrame);
    const double mp = median(minimalPeak), cp = median(clientPeak);
    std::printf("first frame (median of %d): minimal %.1f ms, client %.1f ms, ratio %.2f\n", runs,
        mf, cf, cf / mf);
    std::printf("peak resident (median of %d): minimal %.0f KiB, client %.0f KiB, ratio %.2f\n",
        runs, mp, cp, cp / mp);
    return 0;
}
