#include "app/startup/WindowScreenshot.h"

#include "app/startup/ExitCodes.h"
#include "core/log/Logger.h"

#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QImageWriter>
#include <QQuickItem>
#include <QQuickItemGrabResult>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSGSimpleRectNode>
#include <QSharedPointer>

#include <cstdio>
#include <limits>

namespace ostrel::app {
namespace {

// Saves the picture, the format chosen by the suffix; answers why it could not, else empty.
QString savingProblem(const QImage& picture, const QString& path) {
    if (picture.isNull()) {
        return QStringLiteral("the window could not be grabbed");
    }
    QImageWriter writer(path);
    if (writer.write(picture)) {
        return {};
    }
    // Qt's reasons start with a capital: "Cannot open device for writing: ...".
    QString why = writer.errorString();
    if (!why.isEmpty()) {
        why[0] = why[0].toLower();
    }
    return why.isEmpty() ? QStringLiteral("the picture could not be written") : why;
}

void savePicture(const QImage& picture, ScreenshotRequest& request, core::Logger& logger, int& failureExitCode) {
    const QString problem = savingProblem(picture, request.path);
    if (!problem.isEmpty()) {
        reportScreenshotFailed(request, problem, logger, failureExitCode);
        QCoreApplication::exit(kScreenshotFailedExitCode);
        return;
    }
    request.done = true;
    logger.log(core::LogLevel::INFO, "app", "screenshot saved to " + request.path.toStdString());
    QCoreApplication::exit(0);
}

// The software scene graph paints with QPainter, which never scales below one device pixel
// to a pixel: under an interface size of 100 % its picture of the window holds only the top
// left of the window drawn unscaled.
bool windowPictureIsCut(QQuickWindow& window) {
    const QSGRendererInterface* renderer = window.rendererInterface();
    return window.effectiveDevicePixelRatio() < 1.0 && renderer != nullptr &&
           renderer->graphicsApi() == QSGRendererInterface::Software;
}

// The window's colour under the whole scene: a grab of the scene has no window behind it.
class Backdrop final : public QQuickItem {
public:
    Backdrop(QQuickItem& root, const QColor& color) : QQuickItem(&root), color_(color) {
        setFlag(ItemHasContents);
        setZ(std::numeric_limits<qreal>::lowest());
        setSize(root.size());
    }

protected:
    QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData* /*data*/) override {
        auto* node = static_cast<QSGSimpleRectNode*>(old);
        if (node == nullptr) {
            node = new QSGSimpleRectNode();
        }
        node->setRect(boundingRect());
        node->setColor(color_);
        return node;
    }

private:
    QColor color_;
};

}  // namespace

void saveWindowScreenshot(QQuickWindow& window, ScreenshotRequest& request, core::Logger& logger,
                          int& failureExitCode) {
    if (!windowPictureIsCut(window)) {
        savePicture(window.grabWindow(), request, logger, failureExitCode);
        return;
    }
    // The scene drawn into a picture of the window's size in device pixels is the whole
    // window; it is saved once the next frame has drawn it.
    QQuickItem* root = window.contentItem();
    auto* backdrop = new Backdrop(*root, window.color());
    const QSize size = (QSizeF(window.size()) * window.effectiveDevicePixelRatio()).toSize();
    const QSharedPointer<QQuickItemGrabResult> grab = root->grabToImage(size);
    if (grab.isNull()) {
        savePicture(QImage(), request, logger, failureExitCode);
        return;
    }
    // The backdrop, a child of the window's root, keeps the grab until the window goes.
    QObject::connect(grab.data(), &QQuickItemGrabResult::ready, backdrop, [grab, &request, &logger, &failureExitCode] {
        savePicture(grab->image(), request, logger, failureExitCode);
    });
}

// The run ends with its exit code: whoever started it reads why on stderr, not only in the log.
void reportScreenshotFailed(ScreenshotRequest& request, const QString& why, core::Logger& logger,
                            int& failureExitCode) {
    request.done = true;
    logger.log(core::LogLevel::ERROR, "app", ("screenshot FAILED for " + request.path + ": " + why).toStdString());
    std::fprintf(stderr, "Ostrel could not save the picture of its window to %s: %s.\n", qPrintable(request.path),
                 qPrintable(why));
    failureExitCode = kScreenshotFailedExitCode;
}

}  // namespace ostrel::app
