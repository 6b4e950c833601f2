#include "app/PreviewWindow.h"

#include "app/AppImages.h"
#include "app/MainWindow.h"
#include "app/MovieView.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "platform/AppController.h"
#include "platform/SystemLog.h"
#include "results/ID3Tag.h"
#include "results/qt/Utf8Text.h"
#include "volume/FileTypeRegistry.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QBuffer>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileIconProvider>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLibraryInfo>
#include <QMediaDevices>
#include <QMediaMetaData>
#include <QMediaPlayer>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoSink>
#include <algorithm>
#include <cstring>
#include <thread>

// One preview request: what it needs of the node, copied when it was made,
// the volume to read it from, and the byte that tells its reading and its
// presentation to give up.
struct PreviewWindow::Job {
    std::shared_ptr<Volume> volume;
    const NewDir* node = nullptr;
    PreviewData::Source source;
    // Marked Bad: its bytes may end in what follows its cut.
    bool damaged = false;
    std::atomic<bool> previewThreadAbort{false};
};

namespace {

const char kSaveSessionWarning[] =
    "It is strongly recommended to save \"Recovery Session\" before proceeding further. Though every care has "
    "been taken to avoid unexpected errors, large corrupted files might cause software to become unstable and "
    "delay the preview display. Saving \"Recovery Session\" would be helpful to reload the tree which avoids "
    "rescanning the drive in unstable conditions or if any unexpected errors occur.";

constexpr int kPosterSize = 48;
constexpr int kBigPosterSize = 180;
// What a carving measures past the last byte it could tie to a file.
constexpr qsizetype kCutMargin = 512;

// The last "."-separated component of a name, as it stands.
QString lastComponent(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.mid(dot + 1);
}

QIcon iconForFileName(const QString& name) {
    QFileIconProvider provider;
    const QString ext = lastComponent(name);
    if (ext.isEmpty()) return provider.icon(QFileIconProvider::File);
    const QMimeType mime =
        QMimeDatabase().mimeTypeForFile(QStringLiteral("file.") + ext, QMimeDatabase::MatchExtension);
    return QIcon::fromTheme(mime.iconName(),
                            QIcon::fromTheme(mime.genericIconName(), provider.icon(QFileIconProvider::File)));
}

QLabel* makeLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QPixmap scaledToFit(const QImage& image, const QSize& area) {
    if (image.isNull() || area.isEmpty()) return {};
    if (image.width() <= area.width() && image.height() <= area.height()) return QPixmap::fromImage(image);
    return QPixmap::fromImage(image.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

// The picture `data` decodes to; null when nothing decodes. A cut photo
// (one marked Bad) decodes as far as its bytes go, as image viewers show
// it: the reader leaves what it decoded in the image though it answers that
// the rest is missing. What it never reached is then grey, or clear in a
// picture with transparency, never whatever the memory held: the bytes are
// decoded once more into an image of that size filled so, which the reader
// fills in. `rowless` tells whether the reader gave no row at all.
QImage decodedImage(QByteArray& data, bool& rowless) {
    const auto decode = [&](QImage& into) {
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        // The readers decide by the content, whatever the name says; Qt's
        // allocation limit keeps a hostile header from asking for gigabytes.
        QImageReader reader(&buffer);
        return reader.canRead() && reader.read(&into);
    };
    QImage image;
    rowless = false;
    if (decode(image) || image.isNull()) {
        rowless = image.isNull();
        return image;
    }
    const QSize size = image.size();
    const QImage::Format format = image.format();
    image = QImage();
    QImage canvas(size, format);
    canvas.fill(canvas.hasAlphaChannel() ? QColor(Qt::transparent) : QColor(128, 128, 128));
    const QImage blank = canvas.copy(0, 0, canvas.width(), 1);
    decode(canvas);
    const auto rowBytes = static_cast<std::size_t>(canvas.width()) * static_cast<std::size_t>(canvas.depth()) / 8;
    rowless = true;
    for (int y = 0; y < canvas.height() && rowless; ++y)
        rowless = std::memcmp(canvas.constScanLine(y), blank.constScanLine(0), rowBytes) == 0;
    return canvas;
}

QString textOf(const QVariant& value) {
    if (value.userType() == QMetaType::QStringList) return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

} // namespace

PreviewWindow::PreviewWindow(QWidget* mainWindow) : QWidget(mainWindow, Qt::Window) {
    // Before the movie view exists: it is the first thing that reaches the
    // multimedia back end.
    preferWorkingMediaBackend();

    setObjectName(QStringLiteral("previewWindow"));
    setWindowTitle(tr("Preview"));
    resize(640, 560);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    previewIcon_ = makeLabel("previewIcon", this);
    previewIcon_->setFixedSize(32, 32);
    previewFileName_ = makeLabel("previewFileName", this);
    previewFileName_->setTextInteractionFlags(Qt::NoTextInteraction);
    top->addWidget(previewIcon_);
    top->addWidget(previewFileName_, 1);
    layout->addLayout(top);

    previewTabs_ = new QTabWidget(this);
    previewTabs_->setObjectName(QStringLiteral("previewTabs"));
    layout->addWidget(previewTabs_, 1);

    // "Image"
    auto* imagePage = new QWidget;
    imagePage->setObjectName(QStringLiteral("Image"));
    auto* imageLayout = new QVBoxLayout(imagePage);
    previewImage_ = makeLabel("previewImage", imagePage);
    previewImage_->setAlignment(Qt::AlignCenter);
    previewImage_->setMinimumSize(64, 64);
    previewImage_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    imageLayout->addWidget(previewImage_);
    previewTabs_->addTab(imagePage, QStringLiteral("Image"));

    // "Movie"
    auto* moviePage = new QWidget;
    moviePage->setObjectName(QStringLiteral("Movie"));
    auto* movieLayout = new QVBoxLayout(moviePage);
    auto* screen = new QHBoxLayout;
    previewMovie_ = new MovieView(moviePage);
    previewMovie_->setObjectName(QStringLiteral("previewMovie"));
    previewMovie_->setMinimumSize(160, 120);
    bigPosterView_ = makeLabel("bigPosterView", moviePage);
    bigPosterView_->setFixedSize(kBigPosterSize, kBigPosterSize);
    bigPosterView_->setAlignment(Qt::AlignCenter);
    screen->addWidget(previewMovie_, 1);
    screen->addWidget(bigPosterView_);
    movieLayout->addLayout(screen, 1);
    auto* details = new QHBoxLayout;
    posterView_ = makeLabel("posterView", moviePage);
    posterView_->setFixedSize(kPosterSize, kPosterSize);
    posterView_->setAlignment(Qt::AlignCenter);
    details->addWidget(posterView_);
    auto* fields = new QGridLayout;
    movieName_ = makeLabel("movieName", moviePage);
    movieArtist_ = makeLabel("movieArtist", moviePage);
    movieAlbum_ = makeLabel("movieAlbum", moviePage);
    movieDuration_ = makeLabel("movieDuration", moviePage);
    movieSizeLoaded_ = makeLabel("movieSizeLoaded", moviePage);
    movieStatus_ = makeLabel("movieStatus", moviePage);
    fields->addWidget(movieName_, 0, 0);
    fields->addWidget(movieDuration_, 0, 1);
    fields->addWidget(movieArtist_, 1, 0);
    fields->addWidget(movieSizeLoaded_, 1, 1);
    fields->addWidget(movieAlbum_, 2, 0);
    fields->addWidget(movieStatus_, 2, 1);
    details->addLayout(fields, 1);
    movieLayout->addLayout(details);
    textFieldLyrics_ = makeLabel("textFieldLyrics", moviePage);
    textFieldLyrics_->setAlignment(Qt::AlignCenter);
    textFieldLyrics_->setWordWrap(true);
    textFieldLyrics_->setMinimumHeight(2 * textFieldLyrics_->fontMetrics().lineSpacing() + 4);
    movieLayout->addWidget(textFieldLyrics_);
    previewTabs_->addTab(moviePage, QStringLiteral("Movie"));

    // "Text"
    auto* textPage = new QWidget;
    textPage->setObjectName(QStringLiteral("Text"));
    auto* textLayout = new QVBoxLayout(textPage);
    previewText_ = new QPlainTextEdit(textPage);
    previewText_->setObjectName(QStringLiteral("previewText"));
    // Shown, never edited: no undo, no selection, no typing.
    previewText_->setUndoRedoEnabled(false);
    previewText_->setReadOnly(true);
    previewText_->setTextInteractionFlags(Qt::NoTextInteraction);
    textLayout->addWidget(previewText_);
    previewTabs_->addTab(textPage, QStringLiteral("Text"));

    lyricsTimer_.setSingleShot(true);
    connect(&lyricsTimer_, &QTimer::timeout, this, &PreviewWindow::scrollLyricsStep);
}

PreviewWindow::~PreviewWindow() {
    // A worker still reading finds no window when it is done and drops
    // what it read.
    if (loading_) loading_->previewThreadAbort = true;
}

void PreviewWindow::preferWorkingMediaBackend() {
    // Qt 6.4's GStreamer back end crashes when GStreamer's base plug-ins are
    // missing, while the FFmpeg one opens data from memory by a file-name
    // extension, as the preview needs. An explicit choice is left alone.
    static bool chosen = false;
    if (chosen) return;
    chosen = true;
    if (!qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND")) return;
    const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/multimedia"));
    if (!plugins.entryList({QStringLiteral("*ffmpeg*")}, QDir::Files).isEmpty()) qputenv("QT_MEDIA_BACKEND", "ffmpeg");
}

PreviewWindow* PreviewWindow::made(QWidget* anyWidget) {
    QWidget* top = anyWidget ? anyWidget->window() : nullptr;
    if (auto* self = qobject_cast<PreviewWindow*>(top)) return self;
    return top ? top->findChild<PreviewWindow*>(QStringLiteral("previewWindow")) : nullptr;
}

PreviewWindow* PreviewWindow::of(QWidget* anyWidget) {
    if (PreviewWindow* existing = made(anyWidget)) return existing;
    QWidget* top = anyWidget ? anyWidget->window() : nullptr;
    return top ? new PreviewWindow(top) : nullptr;
}

void PreviewWindow::preview(Quelvar_Recovery_SoftwareAppDelegate& delegate, NewDir* node) {
    if (!node) return;
    PreviewWindow* window = of(delegate.window());
    if (!window) return;
    window->showPreviewFor(delegate.selectedVolume(), node);
}

// ---------------------------------------------------------------------------
// Kinds

const QStringList& PreviewWindow::imageFileTypes() {
    static const QStringList types = [] {
        QStringList list;
        for (const QByteArray& format : QImageReader::supportedImageFormats())
            list << QString::fromLatin1(format).toLower();
        return list;
    }();
    return types;
}

PreviewWindow::Kind PreviewWindow::kindForName(const QString& fileName) {
    const QString ext = lastComponent(fileName).toLower();
    if (imageFileTypes().contains(ext)) return Image;
    if (FileTypeRegistry::isMovieType(Utf8Text::fromQString(ext))) return Movie;
    return Text;
}

// ---------------------------------------------------------------------------
// Requests

bool PreviewWindow::previewThreadAbort() const {
    return current_ && current_->previewThreadAbort.load();
}

void PreviewWindow::showPreviewFor(std::shared_ptr<Volume> volume, NewDir* node) {
    if (!node) return;
    if (node->fileType == NewDir::Folder && !isVisible()) return;
    // Without a volume there is nothing to read from.
    if (!volume) return;

    ++numPreviewAttempts_;
    if (numPreviewAttempts_ >= 3) {
        --numPreviewAttempts_;
        return;
    }

    if (!volume->scanInfoSaved && !volume->previewWarningShown) {
        int answer = platform::AlertAlternateReturn;
        if (platform::AppController* c = platform::appController())
            answer = c->showAlertPanelWithData(platform::Dict{{"title", "Information"},
                                                              {"body", kSaveSessionWarning},
                                                              {"defaultButton", "Go Back"},
                                                              {"alternateButton", "Preview"}});
        volume->previewWarningShown = true;
        if (answer == platform::AlertDefaultReturn) {
            --numPreviewAttempts_;
            return;
        }
    }

    auto job = std::make_shared<Job>();
    job->volume = std::move(volume);
    job->node = node;
    job->source = PreviewData::Source::of(*node);
    job->damaged = node->complete == NewDir::kDamaged;

    if (loading_) {
        // The preview being read gives up, and this one waits behind it in
        // place of any that waited before.
        loading_->previewThreadAbort = true;
        stopScrollLyrics();
        pending_ = std::move(job);
        return;
    }
    previewSmall(std::move(job));
}

void PreviewWindow::startNextRequest() {
    if (loading_ || !pending_) return;
    std::shared_ptr<Job> next = std::move(pending_);
    pending_.reset();
    previewSmall(std::move(next));
}

void PreviewWindow::previewSmall(std::shared_ptr<Job> job) {
    // From the second preview on the count stands at 1 while one runs, so
    // one more request can wait behind it.
    numPreviewAttempts_ = hadPreview_ ? 1 : 0;
    hadPreview_ = true;
    stopScrollLyrics();
    current_ = job;
    setPreviewMovieMovieView(nullptr);
    nilQTMovie();

    previewData_.clear();
    setPreviewIconImageView(QIcon());
    setPreviewFileNameTextField(QString());
    selectPreviewTab(QStringLiteral("Image"));
    setPreviewImageImageView(QStringLiteral("preview-loading"));
    previewHDir_ = job->node;

    const QString name = QString::fromStdU16String(job->source.name);
    if (job->source.fileType == NewDir::Folder) {
        setPreviewIconImageView(QFileIconProvider().icon(QFileIconProvider::Folder));
        setPreviewImageImageView(QString());
        setPreviewFileNameTextField(name);
        setPreviewTextTextField(QString());
        setMovieStatusTextField(QString());
        show();
        raise();
        activateWindow();
        return;
    }

    show();
    raise();
    activateWindow();
    setPreviewFileNameTextField(name);
    setPreviewIconImageView(iconForFileName(name));
    setPreviewTextTextField(QString());
    setMovieStatusTextField(QString());
    supportedFileType_ = kindForName(name);

    if (supportedFileType_ == Text || job->source.fileSize >= PreviewData::kPreviewSizeLimit) {
        previewTextData();
        return;
    }
    getPreviewData(std::move(job));
}

void PreviewWindow::getPreviewData(std::shared_ptr<Job> job) {
    loading_ = job;
    QPointer<PreviewWindow> self(this);
    std::thread([self, job]() {
        PreviewData::Result result;
        try {
            result = PreviewData::getPreviewData(*job->volume, job->source, job->previewThreadAbort);
        } catch (const std::exception& e) {
            platform::logFormat("Preview read failed: %@", std::string(e.what()));
            job->previewThreadAbort = true;
            result = {};
        }
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return;
        QMetaObject::invokeMethod(
            app,
            [self, job, result = std::move(result)]() mutable {
                if (self) self->previewLoadFinished(job, std::move(result));
            },
            Qt::QueuedConnection);
    }).detach();
}

void PreviewWindow::previewLoadFinished(std::shared_ptr<Job> job, PreviewData::Result result) {
    if (loading_ == job) loading_.reset();
    if (job == current_) {
        switch (result.outcome) {
        case PreviewData::Outcome::ReadFailed:
            previewReadFailed();
            break;
        case PreviewData::Outcome::Aborted:
            previewAfterThreadAbort();
            break;
        case PreviewData::Outcome::Loaded:
            if (job->previewThreadAbort.load()) {
                previewAfterThreadAbort();
            } else {
                previewData_ = QByteArray(reinterpret_cast<const char*>(result.data.data()),
                                          static_cast<qsizetype>(result.data.size()));
                result.data.clear();
                previewDataLoaded();
            }
            break;
        }
    }
    startNextRequest();
}

void PreviewWindow::previewDataLoaded() {
    if (previewThreadAbort()) return;
    if (supportedFileType_ == Image)
        previewImage();
    else if (supportedFileType_ == Movie)
        previewMovie();
}

void PreviewWindow::previewAfterThreadAbort() {
    selectPreviewTab(QStringLiteral("Image"));
    setPreviewImageImageView(QStringLiteral("preview-failed"));
}

void PreviewWindow::previewReadFailed() {
    // Closed: by the reader, which told the user the medium has gone, or by
    // the user, who is past the preview.
    if (!isVisible()) return;
    previewAfterThreadAbort();
    if (platform::AppController* c = platform::appController())
        c->runAlertPanel(platform::alertRequest("! Can not show preview",
                                                "Some sectors of the file could not be read from the drive.", "OK"));
}

// ---------------------------------------------------------------------------
// Showing

void PreviewWindow::previewImage() {
    if (previewThreadAbort()) return;
    selectPreviewTab(QStringLiteral("Image"));
    previewText_->clear();
    setPreviewMovieMovieView(nullptr);
    bool rowless = false;
    QImage image = decodedImage(previewData_, rowless);
    if (rowless && current_ && current_->damaged && previewData_.size() > kCutMargin) {
        // A photo cut at a sector is listed to there and the margin a
        // carving measures past it, which may hold the next file's start: a
        // decoder that meets another image's start marker may give up before
        // any row. Without that margin the photo's own bytes end early, as a
        // cut file does in an image viewer.
        QByteArray own = previewData_.left((previewData_.size() - 1) / kCutMargin * kCutMargin);
        QImage cut = decodedImage(own, rowless);
        if (!rowless) image = std::move(cut);
    }
    if (!image.isNull()) {
        setPreviewImage(image);
        return;
    }
    previewTextData();
}

void PreviewWindow::previewTextData() {
    if (previewThreadAbort()) return;
    setPreviewImageImageView(QString());
    setPreviewMovieMovieView(nullptr);
    selectPreviewTab(QStringLiteral("Text"));
    if (!current_ || !current_->volume) return;
    // A job keeps its volume alive, so this read is safe even once the
    // tree it came from is gone.
    std::shared_ptr<Job> job = current_;
    const std::optional<std::string> text = PreviewData::previewTextData(*job->volume, job->source);
    if (job != current_) return;
    if (!text) {
        // A file without extents has no block to show; any other's read failed.
        if (!job->source.extents.empty()) previewReadFailed();
        return;
    }
    previewText_->setPlainText(QString::fromLatin1(text->data(), static_cast<qsizetype>(text->size())));
}

void PreviewWindow::previewMovie() {
    if (!current_ || previewThreadAbort()) return;
    stopScrollLyrics();
    previewText_->clear();
    clearMovieDetails();
    nilQTMovie();

    const QString name = QString::fromStdU16String(current_->source.name);
    madeUpMovieName_ = QStringLiteral("abc.") + lastComponent(name);
    const std::uint64_t size = current_->source.fileSize;
    const float share = size ? static_cast<float>(previewData_.size()) / static_cast<float>(size) * 100.0f : 0.0f;
    movieLoadedText_ = QString::asprintf("Loaded %.2f %%", static_cast<double>(share));

    auto* player = new QMediaPlayer(this);
    // Without any sound device there is nothing to play to, and Qt 6.4's
    // FFmpeg back end crashes when asked to.
    if (!QMediaDevices::audioOutputs().isEmpty()) player->setAudioOutput(new QAudioOutput(player));
    auto* device = new QBuffer(player);
    device->setData(previewData_);
    device->open(QIODevice::ReadOnly);
    qtMovie_ = player;
    movieSettled_ = false;

    connect(player, &QMediaPlayer::mediaStatusChanged, this, [this, player](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia)
            movieOpened(player);
        else if (status == QMediaPlayer::InvalidMedia)
            movieFailed(player);
    });
    connect(player, &QMediaPlayer::errorOccurred, this, [this, player](QMediaPlayer::Error error, const QString&) {
        if (error != QMediaPlayer::NoError) movieFailed(player);
    });
    if (!player->isAvailable()) {
        movieFailed(player);
        return;
    }
    // The made-up name tells the framework the format by its extension.
    player->setSourceDevice(device, QUrl(madeUpMovieName_));
}

void PreviewWindow::movieFailed(QMediaPlayer* player) {
    if (player != qtMovie_ || movieSettled_) return;
    movieSettled_ = true;
    nilQTMovie();
    setMovieStatusTextField(QStringLiteral("!Error: could not initialize"));
    selectPreviewTab(QStringLiteral("Image"));
    setPreviewImageImageView(QStringLiteral("preview-failed"));
}

void PreviewWindow::movieOpened(QMediaPlayer* player) {
    if (player != qtMovie_ || movieSettled_) return;
    movieSettled_ = true;
    if (previewThreadAbort()) {
        selectPreviewTab(QStringLiteral("Image"));
        setPreviewImageImageView(QStringLiteral("preview-failed"));
        return;
    }
    setPreviewMovieMovieView(
        player->hasVideo() && !FileTypeRegistry::isSoundOnly(Utf8Text::fromQString(lastComponent(madeUpMovieName_)))
            ? player
            : nullptr);
    setMovieStatusTextField(QStringLiteral(" "));
    movieSizeLoaded_->setText(movieLoadedText_);

    const QMediaMetaData meta = player->metaData();
    const QString title = textOf(meta.value(QMediaMetaData::Title));
    if (!title.isEmpty()) movieName_->setText(title == madeUpMovieName_ ? QString() : title);
    QString artist = textOf(meta.value(QMediaMetaData::ContributingArtist));
    if (artist.isEmpty()) artist = textOf(meta.value(QMediaMetaData::AlbumArtist));
    if (!artist.isEmpty()) movieArtist_->setText(artist);
    const QString album = textOf(meta.value(QMediaMetaData::AlbumTitle));
    if (!album.isEmpty()) movieAlbum_->setText(album);

    const qint64 milliseconds = player->duration();
    const double seconds = static_cast<double>(milliseconds) / 1000.0;
    if (milliseconds > 0)
        movieDuration_->setText(QStringLiteral("Duration: ") +
                                Utf8Text::toQString(platform::getTimeFormStringForInterval(seconds)));

    const platform::ByteView data(reinterpret_cast<const std::uint8_t*>(previewData_.constData()),
                                  static_cast<std::size_t>(previewData_.size()));
    const bool tagged = ID3Tag::hasTag(data);
    std::u16string lyrics;
    if (milliseconds > 0 && tagged) lyrics = ID3Tag::lyrics(data);
    if (!lyrics.empty())
        scrollLyrics(QString::fromStdU16String(lyrics), seconds,
                     static_cast<int>(std::min<std::size_t>(lyrics.size(), INT32_MAX)));
    else
        setTextFieldScrollLyrics(QString());

    QImage poster = meta.value(QMediaMetaData::ThumbnailImage).value<QImage>();
    if (poster.isNull()) poster = meta.value(QMediaMetaData::CoverArtImage).value<QImage>();
    if (poster.isNull() && tagged) {
        const std::vector<std::uint8_t> picture = ID3Tag::picture(data);
        if (!picture.empty())
            poster = QImage::fromData(QByteArray::fromRawData(reinterpret_cast<const char*>(picture.data()),
                                                              static_cast<qsizetype>(picture.size())));
    }
    if (!poster.isNull()) {
        posterView_->setPixmap(scaledToFit(poster, posterView_->size()));
        bigPosterView_->setPixmap(scaledToFit(poster, bigPosterView_->size()));
    }

    if (previewThreadAbort()) {
        selectPreviewTab(QStringLiteral("Image"));
        setPreviewImageImageView(QStringLiteral("preview-failed"));
        return;
    }
    selectPreviewTab(QStringLiteral("Movie"));
    player->play();
}

// ---------------------------------------------------------------------------
// Lyrics

void PreviewWindow::scrollLyrics(const QString& text, double durationSeconds, int characterCount) {
    stopScrollLyrics();
    if (characterCount < 1) return;
    lyricsLeft_ = text;
    // Whatever the tagger used for a line break counts as one.
    lyricsLeft_.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lyricsLeft_.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    secondsPerCharacter_ = durationSeconds / static_cast<float>(characterCount);
    scrollLyricsStep();
}

void PreviewWindow::scrollLyricsStep() {
    const qsizetype first = lyricsLeft_.indexOf(QLatin1Char('\n'));
    // Text after the last line break is never shown.
    if (first < 0) {
        stopScrollLyrics();
        return;
    }
    QString shown = lyricsLeft_.left(first);
    qsizetype characters = shown.size();
    qsizetype consumed = first + 1;
    const qsizetype second = lyricsLeft_.indexOf(QLatin1Char('\n'), consumed);
    if (second >= 0) {
        const QString next = lyricsLeft_.mid(consumed, second - consumed);
        characters += next.size();
        shown += QLatin1Char('\n') + next;
        consumed = second + 1;
    }
    lyricsLeft_.remove(0, consumed);
    setTextFieldScrollLyrics(shown);
    const double holdMs = static_cast<double>(characters) * secondsPerCharacter_ * 1000.0;
    lyricsTimer_.start(static_cast<int>(std::clamp(holdMs, 1.0, 24.0 * 3600.0 * 1000.0)));
}

void PreviewWindow::stopScrollLyrics() {
    lyricsTimer_.stop();
    lyricsLeft_.clear();
    setTextFieldScrollLyrics(QStringLiteral(" "));
}

QString PreviewWindow::lyricsText() const {
    return textFieldLyrics_->text();
}

// ---------------------------------------------------------------------------
// Closing

void PreviewWindow::clearPreview() {
    stopScrollLyrics();
    // Nobody is left to see a preview still being read or waiting.
    if (loading_) loading_->previewThreadAbort = true;
    pending_.reset();
    setPreviewImageImageView(QString());
    previewText_->clear();
    setPreviewMovieMovieView(nullptr);
    nilQTMovie();
    numPreviewAttempts_ = 0;
}

void PreviewWindow::previewClose() {
    clearPreview();
    close();
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    // The window's own close button stops the sound too.
    clearPreview();
    QWidget::closeEvent(event);
}

void PreviewWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    showScaledImage();
}

// ---------------------------------------------------------------------------
// The views

void PreviewWindow::setPreviewMovieMovieView(QMediaPlayer* player) {
    if (qtMovie_) {
        qtMovie_->stop();
        qtMovie_->setVideoOutput(nullptr);
    }
    if (player)
        player->setVideoOutput(previewMovie_->videoSink());
    else
        previewMovie_->clear();
}

void PreviewWindow::nilQTMovie() {
    // The movie is stopped and released, not only forgotten: a forgotten
    // one would go on playing.
    movieSettled_ = true;
    QMediaPlayer* player = qtMovie_;
    qtMovie_ = nullptr;
    if (!player) return;
    QObject::disconnect(player, nullptr, this, nullptr);
    player->stop();
    player->setVideoOutput(nullptr);
    player->deleteLater();
}

void PreviewWindow::clearMovieDetails() {
    posterView_->clear();
    bigPosterView_->clear();
    movieName_->clear();
    movieArtist_->clear();
    movieAlbum_->clear();
    movieDuration_->clear();
    movieSizeLoaded_->clear();
    setTextFieldScrollLyrics(QStringLiteral(" "));
}

void PreviewWindow::setPreviewIconImageView(const QIcon& icon) {
    if (icon.isNull())
        previewIcon_->clear();
    else
        previewIcon_->setPixmap(icon.pixmap(previewIcon_->size()));
}

void PreviewWindow::setPreviewImageImageView(const QString& resourceName) {
    shownImage_ = QImage();
    previewImageName_ = resourceName;
    if (resourceName.isEmpty()) {
        previewImage_->clear();
        return;
    }
    const QPixmap picture = AppImages::imageNamed(resourceName);
    if (picture.isNull())
        previewImage_->setText(resourceName);
    else
        previewImage_->setPixmap(picture);
}

void PreviewWindow::setPreviewImage(const QImage& image) {
    previewImageName_.clear();
    shownImage_ = image;
    showScaledImage();
}

void PreviewWindow::showScaledImage() {
    if (shownImage_.isNull()) return;
    previewImage_->setPixmap(scaledToFit(shownImage_, previewImage_->size()));
}

void PreviewWindow::setPreviewFileNameTextField(const QString& text) {
    previewFileName_->setText(text);
}

void PreviewWindow::setMovieStatusTextField(const QString& text) {
    movieStatus_->setText(text);
}

void PreviewWindow::setPreviewTextTextField(const QString& text) {
    previewText_->setPlainText(text.isNull() ? QStringLiteral(" ") : text);
}

void PreviewWindow::selectPreviewTab(const QString& identifier) {
    for (int i = 0; i < previewTabs_->count(); ++i)
        if (previewTabs_->widget(i)->objectName() == identifier) previewTabs_->setCurrentIndex(i);
}

QString PreviewWindow::selectedPreviewTab() const {
    QWidget* page = previewTabs_->currentWidget();
    return page ? page->objectName() : QString();
}

void PreviewWindow::setTextFieldScrollLyrics(const QString& text) {
    textFieldLyrics_->setText(text);
}
