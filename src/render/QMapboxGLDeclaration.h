#pragma once
// Our own declaration of the parts of QMapboxGL (the Qt binding of Mapbox GL Native) that the
// renderer uses. Debian ships the classes inside the Qt Location plugin file without a header;
// the members below match that build (Qt 5.15): their order, types and sizes are the layout
// the plugin's code expects, and every function named here is exported by the plugin.
//
// The meta-object of QMapboxGL lives in the plugin: this header must stay out of moc.

#include <QObject>
#include <QPair>
#include <QSize>
#include <QString>
#include <QVariant>
#include <functional>
#include <string>

class QMapboxGLSettings {
public:
    enum GLContextMode { UniqueGLContext = 0, SharedGLContext };
    enum MapMode { Continuous = 0, Static };
    enum ConstrainMode { NoConstrain = 0, ConstrainHeightOnly, ConstrainWidthAndHeight };
    enum ViewportMode { DefaultViewport = 0, FlippedYViewport };

    QMapboxGLSettings();

    void setContextMode(GLContextMode mode);
    void setMapMode(MapMode mode);
    void setConstrainMode(ConstrainMode mode);
    void setCacheDatabasePath(const QString& path);
    void setCacheDatabaseMaximumSize(unsigned size);
    void setAccessToken(const QString& token);
    void setApiBaseUrl(const QString& url);
    // Called with the URL of every resource the map is about to request from the network; the
    // map requests the URL it returns instead.
    void setResourceTransform(const std::function<std::string(const std::string&&)>& transform);

    QString cacheDatabasePath() const;

private:
    GLContextMode m_contextMode;
    MapMode m_mapMode;
    ConstrainMode m_constrainMode;
    ViewportMode m_viewportMode;
    unsigned m_cacheMaximumSize;
    QString m_cacheDatabasePath;
    QString m_assetPath;
    QString m_accessToken;
    QString m_apiBaseUrl;
    std::function<std::string(const std::string&&)> m_resourceTransform;
};

class QMapboxGLPrivate;

class QMapboxGL : public QObject {
    Q_OBJECT

public:
    // (latitude, longitude)
    using Coordinate = QPair<double, double>;
    using CoordinateZoom = QPair<Coordinate, double>;

    enum MapChange {
        MapChangeRegionWillChange = 0,
        MapChangeRegionWillChangeAnimated,
        MapChangeRegionIsChanging,
        MapChangeRegionDidChange,
        MapChangeRegionDidChangeAnimated,
        MapChangeWillStartLoadingMap,
        MapChangeDidFinishLoadingMap,
        MapChangeDidFailLoadingMap,
        MapChangeWillStartRenderingFrame,
        MapChangeDidFinishRenderingFrame,
        MapChangeDidFinishRenderingFrameFullyRendered,
        MapChangeWillStartRenderingMap,
        MapChangeDidFinishRenderingMap,
        MapChangeDidFinishRenderingMapFullyRendered,
        MapChangeDidFinishLoadingStyle,
        MapChangeSourceDidChange
    };
    enum MapLoadingFailure {
        StyleParseFailure = 0,
        StyleLoadFailure,
        NotFoundFailure,
        UnknownFailure
    };

    QMapboxGL(QObject* parent, const QMapboxGLSettings& settings, const QSize& size,
              qreal pixelRatio);
    ~QMapboxGL() override;

    QString styleJson() const;
    void setStyleJson(const QString& json);

    double zoom() const;
    Coordinate coordinate() const;
    void setCoordinateZoom(const Coordinate& coordinate, double zoom);
    CoordinateZoom coordinateZoomForBounds(const Coordinate& southWest,
                                           Coordinate& northEast) const;

    void resize(const QSize& size);
    bool isFullyLoaded() const;

    void setLayoutProperty(const QString& layer, const QString& property, const QVariant& value);
    void setPaintProperty(const QString& layer, const QString& property, const QVariant& value);
    void setFilter(const QString& layer, const QVariant& filter);
    bool layerExists(const QString& id);
    void addLayer(const QVariantMap& params, const QString& before);
    void removeLayer(const QString& id);
    bool sourceExists(const QString& id);
    void addSource(const QString& id, const QVariantMap& params);
    void removeSource(const QString& id);

    void createRenderer();
    void destroyRenderer();
    void setFramebufferObject(quint32 fbo, const QSize& size);

public Q_SLOTS:
    void render();
    void startStaticRender();

Q_SIGNALS:
    void needsRendering();
    void mapChanged(QMapboxGL::MapChange change);
    void mapLoadingFailed(QMapboxGL::MapLoadingFailure failure, const QString& reason);
    void staticRenderFinished(const QString& error);

private:
    Q_DISABLE_COPY(QMapboxGL)

    QMapboxGLPrivate* d_ptr;
};
