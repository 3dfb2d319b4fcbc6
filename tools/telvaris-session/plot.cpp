#include "plot.h"

#include <QtCore/QMessageLogger>
#include <QtGui/QColor>
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace session_tool {
namespace {

const QColor kTraceColours[] = {QColor(31, 84, 160),  QColor(196, 78, 18),  QColor(38, 128, 56), QColor(150, 40, 130),
                                QColor(20, 120, 130), QColor(140, 100, 20), QColor(90, 90, 90),  QColor(170, 30, 60)};

// A step of 1, 2 or 5 times a power of ten that puts ticks at least
// `minGap` pixels apart.
double tickStep(double seconds, double pixels, double minGap) {
  const double least = seconds * minGap / std::max(pixels, 1.0);
  double step = std::pow(10.0, std::floor(std::log10(std::max(least, 1e-6))));
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (step * factor >= least) return step * factor;
  }
  return step * 10.0;
}

QString secondsText(double s, double step) {
  const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : step >= 0.01 ? 2 : 3;
  return QString::number(s, 'f', decimals) + " s";
}

// One channel's band: the samples as a line, or, with more samples than
// pixels, each pixel column's lowest to highest sample.
void drawTrace(QPainter& p, const std::vector<int32_t>& v, const QRectF& band, const QColor& colour) {
  if (v.empty()) return;
  const auto [lowIt, highIt] = std::minmax_element(v.begin(), v.end());
  double low = *lowIt, high = *highIt;
  if (high - low < 2) {
    low -= 1;
    high += 1;
  }
  const double pad = (high - low) * 0.06;
  low -= pad;
  high += pad;
  auto y = [&](double value) { return band.bottom() - (value - low) / (high - low) * band.height(); };
  const size_t n = v.size();
  const double width = band.width();
  p.setPen(QPen(colour, 1.2));
  if (n <= static_cast<size_t>(2 * width)) {
    QPolygonF line;
    for (size_t i = 0; i < n; ++i) {
      const double x = band.left() + (n == 1 ? 0.5 : static_cast<double>(i) / static_cast<double>(n - 1)) * width;
      line << QPointF(x, y(v[i]));
    }
    p.drawPolyline(line);
    return;
  }
  const int columns = static_cast<int>(width);
  double lastY = y(v[0]);
  for (int c = 0; c < columns; ++c) {
    const size_t from = static_cast<size_t>(static_cast<double>(c) * static_cast<double>(n) / width);
    const size_t to =
        std::max(from + 1, static_cast<size_t>(static_cast<double>(c + 1) * static_cast<double>(n) / width));
    const auto [a, b] =
        std::minmax_element(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(std::min(to, n)));
    const double x = band.left() + c + 0.5;
    const double top = std::min(y(*b), lastY), bottom = std::max(y(*a), lastY);
    p.drawLine(QPointF(x, top), QPointF(x, bottom));
    lastY = y(v[std::min(to, n) - 1]);
  }
}

// Qt's notes about the offscreen platform (no runtime folder, no window
// manager) mean nothing to someone drawing a picture; its errors still show.
void quietQtNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

bool renderPlot(const PlotData& data, int width, int height, const std::string& path, std::string& error) {
  // Fonts need an application object; the offscreen platform opens no
  // window and needs no display.
  std::unique_ptr<QGuiApplication> app;
  if (!QGuiApplication::instance()) {
    qInstallMessageHandler(quietQtNotes);
    static int argc = 3;
    static char name[] = "telvaris-session", option[] = "-platform", platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    app = std::make_unique<QGuiApplication>(argc, argv);
  }

  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QFont font = p.font();
  font.setPixelSize(std::clamp(height / 50, 10, 16));
  p.setFont(font);

  const double left = std::max(70.0, width * 0.07), right = 16, top = std::max(28.0, font.pixelSize() * 2.2);
  const double bottom = font.pixelSize() * 2.6;
  const QRectF plotArea(left, top, width - left - right, height - top - bottom);
  const size_t channels = data.channels.size();
  const size_t samples = channels ? data.samples[0].size() : 0;
  const double seconds = samples > 1 ? static_cast<double>(samples - 1) / data.rate : 1.0 / data.rate;

  QFont titleFont = font;
  titleFont.setBold(true);
  p.setFont(titleFont);
  p.setPen(Qt::black);
  p.drawText(QRectF(left, 0, plotArea.width(), top), Qt::AlignVCenter | Qt::AlignLeft,
             QString::fromStdString(data.title));
  p.setFont(font);

  // Time grid and axis.
  const double step = tickStep(seconds, plotArea.width(), font.pixelSize() * 6.0);
  const double first = std::ceil(data.startSeconds / step - 1e-9) * step;
  for (double t = first; t <= data.startSeconds + seconds + 1e-9; t += step) {
    const double x = plotArea.left() + (t - data.startSeconds) / seconds * plotArea.width();
    p.setPen(QPen(QColor(225, 228, 232), 1));
    p.drawLine(QPointF(x, plotArea.top()), QPointF(x, plotArea.bottom()));
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.drawLine(QPointF(x, plotArea.bottom()), QPointF(x, plotArea.bottom() + 4));
    p.drawText(QRectF(x - 60, plotArea.bottom() + 4, 120, bottom - 4), Qt::AlignHCenter | Qt::AlignTop,
               secondsText(t, step));
  }

  // One band a channel.
  const double gap = channels > 1 ? std::min(8.0, plotArea.height() / (4.0 * channels)) : 0;
  const double bandHeight = channels ? (plotArea.height() - gap * (channels - 1)) / channels : 0;
  for (size_t c = 0; c < channels; ++c) {
    const QRectF band(plotArea.left(), plotArea.top() + c * (bandHeight + gap), plotArea.width(), bandHeight);
    p.setPen(QPen(QColor(200, 204, 210), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(band);
    const auto& v = data.samples[c];
    const QColor colour = kTraceColours[c % (sizeof kTraceColours / sizeof kTraceColours[0])];
    drawTrace(p, v, band.adjusted(1, 2, -1, -2), colour);
    p.setPen(colour);
    QString label = QString("Ch %1").arg(data.channels[c]);
    if (!v.empty() && bandHeight >= font.pixelSize() * 2.6) {
      const auto [a, b] = std::minmax_element(v.begin(), v.end());
      label += QString("\n%1..%2").arg(*a).arg(*b);
    }
    p.drawText(QRectF(2, band.top(), left - 8, band.height()), Qt::AlignVCenter | Qt::AlignRight, label);
  }

  // Manual button marks across every band.
  p.setPen(QPen(QColor(220, 30, 30), 1.5));
  for (size_t m : data.marks) {
    const double x = plotArea.left() + (samples > 1 ? static_cast<double>(m) / (samples - 1) : 0.5) * plotArea.width();
    p.drawLine(QPointF(x, plotArea.top()), QPointF(x, plotArea.bottom()));
  }
  p.end();

  if (!image.save(QString::fromStdString(path), "PNG")) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace session_tool
