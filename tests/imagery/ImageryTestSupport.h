#pragma once
// Shared helpers of the imagery tests.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include <lmxmaps/MapQuery.h>
#include <lmxmaps/MappedImageInstance.h>

inline DataValueRect RealRect(double minX, double maxX, double minY, double maxY) {
    return DataValueRect(DataValue::Real(minX), DataValue::Real(maxX), DataValue::Real(minY),
                         DataValue::Real(maxY));
}

inline MapQueryPtr TileQuery(DataValueRect bbox = RealRect(0, 1, 0, 1), unsigned size = 256) {
    return MakeRefCnt<MapQuery>(MakeRefCnt<MapLayers>(), QStringLiteral("EPSG:3857"), bbox, size,
                                size, QString(), QString(), false, false);
}

inline MappedImageInstancePtr NewTile() {
    return MakeRefCnt<MappedImageInstance>(nullptr, QtImageObject::BitmapOptions(), QString(),
                                           QString(), QString(), true, false, false);
}

// Polls until nothing is pending; false when that took longer than the bound.
template <class Polled>
bool PollUntilSettled(Polled& polled, int& count,
                      std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        bool pending = false;
        polled.CheckUpdateState(pending, count);
        if (!pending) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// A 256-pixel tile file of one colour, with the folders it needs.
inline void WriteSolidTile(const QString& path, const QColor& colour) {
    QImage image(256, 256, QImage::Format_RGB32);
    image.fill(colour);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    ASSERT_TRUE(image.save(path, "PNG"));
}
