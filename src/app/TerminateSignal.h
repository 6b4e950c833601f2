#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;

// A terminate request from outside (a logout or shutdown, kill, Ctrl+C in a
// terminal: SIGTERM and SIGINT) reaches the program as requested() on the
// main thread, so that it is decided as the Quit command is: refused while a
// scan or a save runs, asking about the session on the result screen. While
// it lives those signals no longer end the process by themselves; one at a
// time is made (another one says nothing).
class TerminateSignal : public QObject {
    Q_OBJECT
public:
    explicit TerminateSignal(QObject* parent = nullptr);
    ~TerminateSignal() override;
    TerminateSignal(const TerminateSignal&) = delete;
    TerminateSignal& operator=(const TerminateSignal&) = delete;

signals:
    void requested();

private:
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previousTerm_ {};
    struct sigaction previousInt_ {};
};
