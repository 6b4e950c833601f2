#pragma once

// The preview window: a found file looked at before it is saved, read
// straight from the medium. Three tabs: "Image" (an image view), "Movie" (a
// movie view with name, artist, album, duration, a poster and scrolling
// lyrics) and "Text" (the file's first block as printable characters). The
// kind is chosen by the name's extension; files of 50,000,000 bytes or more
// are shown as text.
//
// Reading runs on a worker thread; a newer request aborts the one in
// progress and waits behind it, a request arriving while one already waits
// is refused. The main thread never waits for the worker: the worker's end
// is a queued call that shows the data and starts the waiting request.
//
// The window is a child of the main window named "previewWindow", so the
// program finds it by that name (closing it when the device is gone, when
// going back from the result screen and when quitting).
//
// Entry point for the result screen: PreviewWindow::preview(delegate, node)
// for the Preview button, a double click, and a selection change while the
// window is visible.

#include "results/PreviewData.h"

#include <QByteArray>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>

class QIcon;
class QLabel;
class QMediaPlayer;
class QPlainTextEdit;
class QTabWidget;
class MovieView;
class Quelvar_Recovery_SoftwareAppDelegate;
class Volume;
struct NewDir;

class PreviewWindow : public QWidget {
    Q_OBJECT
public:
    // Kinds of preview (supportedFileType).
    enum Kind { Text = 0, Image = 1, Movie = 2 };

    explicit PreviewWindow(QWidget* mainWindow = nullptr);
    ~PreviewWindow() override;

    // The preview window of the main window that `anyWidget` belongs to,
    // made on first use.
    static PreviewWindow* of(QWidget* anyWidget);
    // The same, or null while none was made.
    static PreviewWindow* made(QWidget* anyWidget);
    // The preview action for the delegate's selected volume: nothing when
    // node is null, or when it is a folder and the window is not visible.
    static void preview(Quelvar_Recovery_SoftwareAppDelegate& delegate, NewDir* node);

    // The request: counts it against the limit, asks once per volume
    // whether the session should be saved first, then previews the node.
    // The node is copied at once; it is never read again after this call.
    void showPreviewFor(std::shared_ptr<Volume> volume, NewDir* node);
    // Clears the views, stops the movie and the lyrics, closes the window
    // and resets the request count.
    void previewClose();

    // --- state (main thread) ---
    int numPreviewAttempts() const { return numPreviewAttempts_; }
    int supportedFileType() const { return supportedFileType_; }
    // The node of the current preview (for display only: it may have been
    // freed since).
    const NewDir* previewHDir() const { return previewHDir_; }
    // True while the current preview has been told to give up.
    bool previewThreadAbort() const;
    const QByteArray& previewData() const { return previewData_; }
    // Name of the resource picture the image view shows, "" for none or a
    // picture of the file.
    QString previewImageName() const { return previewImageName_; }
    QString selectedPreviewTab() const;
    // True while a worker reads the current preview's data.
    bool previewLoading() const { return static_cast<bool>(loading_); }
    // Shows lyrics two lines at a time, each pair held for its characters'
    // share of the duration; text after the last line break is never
    // shown. A timer stands where a thread slept.
    void scrollLyrics(const QString& text, double durationSeconds, int characterCount);
    // The lyrics being shown, and whether they scroll.
    QString lyricsText() const;
    bool lyricsScrolling() const { return lyricsTimer_.isActive(); }

    // The end of a read: the data shown as an image or a movie, or the
    // failed picture when the read was given up.
    void previewDataLoaded();
    void previewAfterThreadAbort();
    // The end of a read that failed: on a medium that has gone the reader
    // has told the user and closed the window; on one still there only
    // this file's sectors failed, and the window says so (the failed
    // picture and an alert) rather than go on loading.
    void previewReadFailed();

    // Lower-cased extensions shown as images (Qt's image readers).
    static const QStringList& imageFileTypes();
    // The kind a name's extension selects: an image where a reader decodes
    // it, a movie for the movie and sound types of the file-type registry.
    static Kind kindForName(const QString& fileName);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Job;

    void previewSmall(std::shared_ptr<Job> job);
    void getPreviewData(std::shared_ptr<Job> job);
    void previewLoadFinished(std::shared_ptr<Job> job, PreviewData::Result result);
    void previewImage();
    void previewMovie();
    void previewTextData();
    void movieOpened(QMediaPlayer* player);
    void movieFailed(QMediaPlayer* player);
    void startNextRequest();
    // What closing does to the views and the requests, whether the window
    // is closed by the program or by the user.
    void clearPreview();

    void scrollLyricsStep();
    void stopScrollLyrics();

    // --- the views ---
    void setPreviewMovieMovieView(QMediaPlayer* player);
    void nilQTMovie();
    void setPreviewIconImageView(const QIcon& icon);
    void setPreviewImageImageView(const QString& resourceName);
    void setPreviewImage(const QImage& image);
    void setPreviewFileNameTextField(const QString& text);
    void setMovieStatusTextField(const QString& text);
    void setPreviewTextTextField(const QString& text);
    void selectPreviewTab(const QString& identifier);
    void setTextFieldScrollLyrics(const QString& text);
    void clearMovieDetails();
    void showScaledImage();
    static void preferWorkingMediaBackend();

    QLabel* previewIcon_ = nullptr;
    QLabel* previewFileName_ = nullptr;
    QTabWidget* previewTabs_ = nullptr;
    QLabel* previewImage_ = nullptr;
    QPlainTextEdit* previewText_ = nullptr;
    MovieView* previewMovie_ = nullptr;
    QLabel* movieStatus_ = nullptr;
    QLabel* movieName_ = nullptr;
    QLabel* movieArtist_ = nullptr;
    QLabel* movieAlbum_ = nullptr;
    QLabel* movieDuration_ = nullptr;
    QLabel* movieSizeLoaded_ = nullptr;
    QLabel* textFieldLyrics_ = nullptr;
    QLabel* posterView_ = nullptr;
    QLabel* bigPosterView_ = nullptr;

    int numPreviewAttempts_ = 0;
    int supportedFileType_ = Text;
    const NewDir* previewHDir_ = nullptr;
    QByteArray previewData_;
    QString previewImageName_;
    QImage shownImage_;
    QString movieLoadedText_;
    QString madeUpMovieName_;
    // True once the current movie has been shown or has failed.
    bool movieSettled_ = true;
    // The movie made from previewData (qtMovie); owned, one at a time.
    QPointer<QMediaPlayer> qtMovie_;
    // The preview shown or being shown, the one being read, and the one
    // waiting behind it.
    std::shared_ptr<Job> current_;
    std::shared_ptr<Job> loading_;
    std::shared_ptr<Job> pending_;
    bool hadPreview_ = false;

    QTimer lyricsTimer_;
    QString lyricsLeft_;
    double secondsPerCharacter_ = 0;
};
