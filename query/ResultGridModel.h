#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <functional>

namespace tarnwell::db {
class ClientDataSet;
}

namespace tarnwell {

// The most characters a cell shows: no column is that wide, and laying out
// a longer value at every paint would hold the grid up.
inline constexpr int kShownCharacters = 4096;

// A value as a tool tip shows it: at most kToolTipLines lines of at most
// kToolTipLineLength characters, cut after kToolTipCharacters characters
// ("…" then marks the cut), as rich text that shows the value's own
// characters (markup in it is not read).
inline constexpr int kToolTipCharacters = 1000;
inline constexpr int kToolTipLines = 20;
inline constexpr int kToolTipLineLength = 80;
QString toolTipExcerpt(const QString& value);

// The result grid's view of a client dataset: the rows fetched so far, one
// column per field, cells as the dataset's value text (at most
// kShownCharacters of it, numbers right-aligned, a tool tip with an excerpt).
// Scrolling to the end asks for the next packet; nothing can be edited,
// inserted or removed.
//
// The model follows the dataset through its notifications, which it takes
// over (the dataset has one listener of each kind); the dataset must outlive
// the model or be detached first.
class ResultGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ResultGridModel(db::ClientDataSet& dataSet, QObject* parent = nullptr);
    ~ResultGridModel() override;

    // Stops listening to the dataset (before the dataset or the model goes).
    void detach();

    db::ClientDataSet& dataSet() const { return dataSet_; }

    // The characters the field of `column` needs on screen (its display
    // width); 0 outside the fields.
    int displayWidth(int column) const;
    // Whether that width comes from the field itself (a declared size, or a
    // kind whose text has a known width) rather than a guess for text of
    // no declared size.
    bool hasDeclaredWidth(int column) const;

    // While held, the model asks the dataset for no further rows (someone
    // else is fetching them).
    void setFetchingHeld(bool held) { fetchingHeld_ = held; }
    // Who brings the next packet when the view wants it (the rows come
    // later, through the dataset's notifications); without one the model
    // fetches it from the dataset itself.
    void setFetchRequest(std::function<void()> request) { fetchRequest_ = std::move(request); }

    // To be called after every move of the dataset's current row (its one
    // after-scroll listener belongs to the window, which passes it on).
    void dataSetScrolled();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // The dataset's current row changed (after every move of it).
    void currentRowChanged(int row);
    // Fetching the next packet for the view failed with the engine's
    // `message`. The model says so and goes on; whoever shows the grid tells
    // the user.
    void fetchFailed(const QString& message);

private:
    void rowsAppended(std::size_t first, std::size_t count);

    db::ClientDataSet& dataSet_;
    int knownRows_ = 0;
    int knownColumns_ = 0;
    int currentRow_ = -1;
    bool attached_ = true;
    bool fetchingHeld_ = false;
    std::function<void()> fetchRequest_;
};

}  // namespace tarnwell
