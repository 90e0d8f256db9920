#pragma once

#include "core/oserror.h"

#include <QDialog>
#include <QMap>
#include <functional>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;

/// The built-in help viewer: a contents list and an index of topics beside
/// the page on show. Pages are HTML files shipped in the help folder;
/// topics.txt there maps each topic number to its page and title.
class frmHelp : public QDialog
{
    Q_OBJECT
public:
    explicit frmHelp(QWidget *parent = nullptr);

    /// Reads the topic list from helpDir; false (with the reason) when it is missing.
    bool load(const QString &helpDir, OsError *error = nullptr);
    /// Shows the contents and index with the contents page on show.
    void showTopics();
    /// Shows the page of a topic number; false if the number is unknown.
    bool showTopic(int topic);

    int currentTopic() const { return m_current; }

    /// The program's one help viewer, loaded from the shipped help folder.
    /// Null (with the reason) when the help pages cannot be read.
    static frmHelp *shared(OsError *error = nullptr);
    /// Opens the shared viewer at a topic number (F1 in a window); false when
    /// the help cannot be shown.
    static bool showHelpTopic(int topic, OsError *error = nullptr);
    /// Opens the topic for a window's help button or F1; a help that cannot
    /// be shown is told with the failure message.
    static void openTopicFor(QWidget *window, int topic);
    /// F1 anywhere in the window opens the topic the window has at that moment.
    static void installHelpKey(QWidget *window, std::function<int()> topic);
    QStringList topicTitles() const;

private:
    void showPage(int topic);
    void filterIndex(const QString &text);

    struct Topic
    {
        QString file;
        QString title;
    };
    QString m_dir;
    QMap<int, Topic> m_topics;
    int m_current = -1;
    QTabWidget *m_tabs = nullptr;
    QListWidget *m_contents = nullptr;
    QListWidget *m_index = nullptr;
    QLineEdit *m_indexFilter = nullptr;
    QTextBrowser *m_page = nullptr;
};
