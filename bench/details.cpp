// How soon the details viewer shows the first screen of a 10 MB message in
// each representation, and how long the event loop goes without a turn while
// the viewer finds the rest of the rows. For comparison, the same first
// screen through a plain text box that is given the whole rendered text.

#include "benchsupport.h"
#include "core/bytes.h"
#include "display/detailsview.h"
#include "display/frmdetails.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <cstdio>

namespace {
constexpr qsizetype kMessageBytes = 10 * 1024 * 1024;
const char *const kNames[] = {"wysiwyg", "chr", "dec", "hex", "bin", "oct"};
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QByteArray message(kMessageBytes, Qt::Uninitialized);
    QRandomGenerator rng(7);
    for (char &c : message)
        c = char(rng.bounded(256));

    frmDetails window;
    window.resize(800, 600);
    window.show();
    QCoreApplication::processEvents();
    double hexMs = 0;
    for (int r = 0; r < DetailsLayout::kRepresentationCount; ++r) {
        window.setRepresentation(DetailsLayout::Representation(r));
        window.AddDetails(QByteArray());
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        window.AddDetails(message);
        window.txtDetails->viewport()->repaint();
        const double firstMs = double(timer.nsecsElapsed()) / 1e6;
        const bench::Watch watch =
            bench::runEventsUntil([&] { return window.txtDetails->layout().complete(); }, 60000);
        const double allMs = double(timer.nsecsElapsed()) / 1e6;
        if (r == DetailsLayout::Hex)
            hexMs = firstMs;
        std::printf("details_first_screen_%s: %.2f ms\n", kNames[r], firstMs);
        std::printf("details_all_rows_%s: %.1f ms\n", kNames[r], allMs);
        std::printf("details_max_stall_%s: %.1f ms\n", kNames[r], watch.maxGapMs);
    }

    QPlainTextEdit plain;
    plain.resize(800, 600);
    plain.show();
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    plain.setPlainText(Bytes::toText(Bytes::GetHex(message)));
    plain.viewport()->repaint();
    const double plainMs = double(timer.nsecsElapsed()) / 1e6;
    std::printf("details_first_screen_hex_plain_text_box: %.1f ms\n", plainMs);
    std::printf("details_first_screen_hex_vs_plain_text_box_ratio: %.1f\n", plainMs / std::max(hexMs, 1e-3));
    return 0;
}
