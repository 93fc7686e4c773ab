#pragma once
// The history window, "Storico bobine": the recorded coils, newest first,
// filtered by date, and for the selected coil its height against length
// with the average drawn as a line. When a sampler runs, a second series
// shows the coil being wound now, live from the sample buffer. Open, it
// keeps the process alive.
#include "common/KeepAlive.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class QChart;
class QDateEdit;
class QLineSeries;
class QTableWidget;
class QValueAxis;

namespace quorvex {

class CoilStore;
class Sampler;

class FormHistory : public QWidget {
    Q_OBJECT
public:
    // sampler: the running sampler, or none.
    FormHistory(CoilStore &store, Sampler *sampler, QWidget *parent = nullptr);

    // Reads the list again from the store, keeping the selection if it is
    // still listed.
    void refresh();
    // The coil whose profile is drawn, 0 for none.
    qint64 selectedId() const;

    static constexpr int kMaxRows = 1000;

private:
    QWidget *buildFilter();
    QWidget *buildChart();
    void showSelected();
    void updateLive();
    void fitAxes();

    CoilStore &m_store;
    QPointer<Sampler> m_sampler;
    QDateEdit *m_since = nullptr;
    QDateEdit *m_until = nullptr;
    QTableWidget *m_list = nullptr;
    QChart *m_chart = nullptr;
    QLineSeries *m_profile = nullptr;
    QLineSeries *m_average = nullptr;
    QLineSeries *m_live = nullptr;
    QValueAxis *m_axisX = nullptr;
    QValueAxis *m_axisY = nullptr;
    QTimer m_liveTimer;
    KeepAliveToken m_loaded = KeepAliveToken::take();
};

} // namespace quorvex
