#pragma once

#include "controlapi.h"

#include <QObject>
#include <QWebSocket>

#include <memory>

class service;

// The tunnel's live traffic for the connect page: speeds from the engine's traffic stream, and
// session totals. The stream runs only while someone watches (the window is shown); totals missed
// meanwhile come back from the engine's connection counters when watching starts again, which
// count from the engine's start, that is from the connection's start.
class TrafficMonitor : public QObject
{
    Q_OBJECT
    // Bytes per second over the last second.
    Q_PROPERTY(double uploadSpeed READ uploadSpeed NOTIFY trafficChanged)
    Q_PROPERTY(double downloadSpeed READ downloadSpeed NOTIFY trafficChanged)
    // Bytes since connecting.
    Q_PROPERTY(double sessionUpload READ sessionUpload NOTIFY trafficChanged)
    Q_PROPERTY(double sessionDownload READ sessionDownload NOTIFY trafficChanged)
    // Milliseconds since the epoch; 0 while not connected.
    Q_PROPERTY(double connectedSince READ connectedSince NOTIFY connectedSinceChanged)
    Q_PROPERTY(bool watching READ watching WRITE setWatching NOTIFY watchingChanged)
    Q_PROPERTY(bool streaming READ streaming NOTIFY streamingChanged)

public:
    explicit TrafficMonitor(service &tunnel, QObject *parent = nullptr);

    double uploadSpeed() const { return m_uploadSpeed; }
    double downloadSpeed() const { return m_downloadSpeed; }
    double sessionUpload() const { return m_sessionUpload; }
    double sessionDownload() const { return m_sessionDownload; }
    double connectedSince() const { return m_connectedSince; }
    bool watching() const { return m_watching; }
    void setWatching(bool watching);
    bool streaming() const { return m_streaming; }

signals:
    void trafficChanged();
    void connectedSinceChanged();
    void watchingChanged();
    void streamingChanged();

private:
    void update();
    void openStream();
    void closeStream();
    void readTotals();
    void onMessage(const QString &message);
    void reset();
    void setStreaming(bool streaming);

    service &m_tunnel;
    ControlApi m_api;
    // Made on the first open: a web socket reads the TLS defaults, which loads the TLS library.
    std::unique_ptr<QWebSocket> m_stream;
    double m_uploadSpeed = 0;
    double m_downloadSpeed = 0;
    double m_sessionUpload = 0;
    double m_sessionDownload = 0;
    double m_connectedSince = 0;
    bool m_watching = false;
    bool m_streaming = false;
    int m_generation = 0;
};
