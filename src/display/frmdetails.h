#pragma once

#include "display/detailslayout.h"

#include <QByteArray>
#include <QDialog>
#include <array>

class DataTextView;
class DetailsView;
class QCheckBox;
class QPushButton;
class QRadioButton;
class QTreeView;

/// The details viewer: one piece of data, shown unchanged, as escaped
/// characters, or as decimal, hexadecimal, binary or octal codes. The main
/// window keeps one for received and one for sent data; send windows, the
/// options window and the protocols window keep their own.
///
/// Closing the window (OK, Escape or the title bar) only hides it; its text
/// and representation stay for the next time it is shown.
class frmDetails : public QDialog
{
    Q_OBJECT
public:
    using Representation = DetailsLayout::Representation;

    explicit frmDetails(QWidget *parent = nullptr);

    DetailsView *txtDetails = nullptr;
    /// "WYSIWYG", "Chr", "Dec", "Hex", "Bin", "Oct", indexed by Representation.
    std::array<QRadioButton *, DetailsLayout::kRepresentationCount> optDetails{};
    QCheckBox *chkTrackLatestData = nullptr;
    QPushButton *cmdOK = nullptr;

    /// Makes strText the current text and shows it in the chosen representation.
    void AddDetails(const QByteArray &strText);
    const QByteArray &currentText() const { return m_text; }
    /// Chooses a representation, as a click on its option does (the
    /// current text is shown again in it).
    void setRepresentation(Representation representation);
    Representation representation() const { return m_representation; }
    /// The caption of a representation's window: "Details - Character", ...
    static QString captionOf(Representation representation);
    void SetUserFont(const QFont &fntFont);

    /// One data tab as the viewer reads it: which of its views is shown,
    /// the list (rows carry the raw message) and the text view.
    struct DataTab
    {
        bool listView = false;
        QTreeView *list = nullptr;
        DataTextView *text = nullptr;
    };
    /// The open-details action: the raw message of the list's selected row
    /// (nothing changes when no row is selected), or at most 300 characters
    /// of the text view from its caret; then shows and raises the window.
    void OpenDetails(const DataTab &tab);
    /// New data was shown on a tab. With "Auto-display the latest data"
    /// ticked: in list view the last row's raw message (the window is not
    /// shown); in text view the last 300 characters, with the caret put
    /// before them and the window brought to the front.
    void LatestDataAdded(const DataTab &tab);

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh(const QByteArray &text);
    void showOn(const DataTab &tab, bool activate);

    QByteArray m_text;
    Representation m_representation = DetailsLayout::WYSIWYG;
};
