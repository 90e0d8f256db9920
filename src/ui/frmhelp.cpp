#include "ui/frmhelp.h"

#include "core/programfolder.h"
#include "ui/titlebar.h"
#include "ui/uiservice.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const QString kTitlePrefix = QStringLiteral("Tarnwell Help - ");
} // namespace

frmHelp::frmHelp(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("Tarnwell Help"));
    setModal(false);

    auto *splitter = new QSplitter(this);
    m_tabs = new QTabWidget(splitter);
    m_contents = new QListWidget;
    m_contents->setObjectName(QStringLiteral("lstContents"));
    auto *indexPage = new QWidget;
    auto *indexLayout = new QVBoxLayout(indexPage);
    m_indexFilter = new QLineEdit;
    m_indexFilter->setObjectName(QStringLiteral("txtIndex"));
    m_indexFilter->setPlaceholderText(QStringLiteral("Type a word to find"));
    m_index = new QListWidget;
    m_index->setObjectName(QStringLiteral("lstIndex"));
    indexLayout->addWidget(m_indexFilter);
    indexLayout->addWidget(m_index);
    m_tabs->addTab(m_contents, QStringLiteral("Contents"));
    m_tabs->addTab(indexPage, QStringLiteral("Index"));
    m_page = new QTextBrowser(splitter);
    m_page->setObjectName(QStringLiteral("txtPage"));
    m_page->setOpenLinks(false);
    splitter->setStretchFactor(1, 3);

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(splitter);
    resize(760, 480);

    auto pick = [this](QListWidgetItem *item) {
        if (item)
            showPage(item->data(Qt::UserRole).toInt());
    };
    connect(m_contents, &QListWidget::itemActivated, this, pick);
    connect(m_contents, &QListWidget::itemClicked, this, pick);
    connect(m_index, &QListWidget::itemActivated, this, pick);
    connect(m_index, &QListWidget::itemClicked, this, pick);
    connect(m_indexFilter, &QLineEdit::textChanged, this, &frmHelp::filterIndex);
    connect(m_page, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) {
        // Pages link to each other as "topic:N".
        if (url.scheme() == QLatin1String("topic"))
            showTopic(url.path().toInt());
    });
}

bool frmHelp::load(const QString &helpDir, OsError *error)
{
    m_dir = helpDir;
    m_topics.clear();
    QFile list(helpDir + QStringLiteral("/topics.txt"));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error)
            *error = OsError{2, QStringLiteral("The system cannot find the file specified.")};
        return false;
    }
    while (!list.atEnd()) {
        const QString line = QString::fromUtf8(list.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList parts = line.split(QLatin1Char('|'));
        if (parts.size() != 3)
            continue;
        bool ok = false;
        const int n = parts.at(0).trimmed().toInt(&ok);
        if (ok)
            m_topics.insert(n, Topic{parts.at(1).trimmed(), parts.at(2).trimmed()});
    }
    m_contents->clear();
    m_index->clear();
    QStringList titles;
    for (auto it = m_topics.cbegin(); it != m_topics.cend(); ++it) {
        titles << kTitlePrefix + it->title;
        auto *c = new QListWidgetItem(it->title, m_contents);
        c->setData(Qt::UserRole, it.key());
        auto *i = new QListWidgetItem(it->title, m_index);
        i->setData(Qt::UserRole, it.key());
    }
    m_index->sortItems();
    // Wide enough for the title of every page, so choosing one never widens the window.
    tw::fitTitles(this, titles);
    if (m_topics.isEmpty()) {
        if (error)
            *error = OsError{13, QStringLiteral("The help file holds no topics.")};
        return false;
    }
    return true;
}

QStringList frmHelp::topicTitles() const
{
    QStringList out;
    for (const Topic &t : m_topics)
        out << t.title;
    return out;
}

void frmHelp::showTopics()
{
    m_tabs->setCurrentIndex(0);
    if (!m_topics.isEmpty())
        showPage(m_topics.firstKey());
    show();
    raise();
    activateWindow();
}

bool frmHelp::showTopic(int topic)
{
    if (!m_topics.contains(topic))
        return false;
    showPage(topic);
    show();
    raise();
    activateWindow();
    return true;
}

void frmHelp::showPage(int topic)
{
    auto it = m_topics.constFind(topic);
    if (it == m_topics.constEnd())
        return;
    QFile f(m_dir + QLatin1Char('/') + it->file);
    if (f.open(QIODevice::ReadOnly))
        m_page->setHtml(QString::fromUtf8(f.readAll()));
    else
        m_page->setPlainText(QStringLiteral("This help page is missing: ") + it->file);
    m_current = topic;
    setWindowTitle(kTitlePrefix + it->title);
}

void frmHelp::filterIndex(const QString &text)
{
    for (int i = 0; i < m_index->count(); ++i) {
        QListWidgetItem *item = m_index->item(i);
        item->setHidden(!item->text().contains(text, Qt::CaseInsensitive));
    }
}

frmHelp *frmHelp::shared(OsError *error)
{
    static QPointer<frmHelp> viewer;
    if (!viewer)
        viewer = new frmHelp;
    // Read the topic list afresh each time, so a repaired help folder is found.
    if (!viewer->load(ProgramFolder::dataFile(QStringLiteral("help")), error))
        return nullptr;
    return viewer;
}

bool frmHelp::showHelpTopic(int topic, OsError *error)
{
    frmHelp *viewer = shared(error);
    if (!viewer)
        return false;
    if (!viewer->showTopic(topic)) {
        if (error)
            *error = OsError{13, QStringLiteral("The help topic %1 does not exist.").arg(topic)};
        return false;
    }
    return true;
}

void frmHelp::openTopicFor(QWidget *window, int topic)
{
    OsError error;
    if (!showHelpTopic(topic, &error))
        tw::ui().failure(window,
                         QStringLiteral("An error occurred while attempting to load the help file.  "
                                        "The operating system reports: "),
                         error);
}

void frmHelp::installHelpKey(QWidget *window, std::function<int()> topic)
{
    auto *key = new QShortcut(QKeySequence(Qt::Key_F1), window);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, window,
                     [window, topic = std::move(topic)] { openTopicFor(window, topic()); });
}
