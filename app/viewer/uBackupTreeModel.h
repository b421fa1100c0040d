#pragma once
// The item model of the backup tree.

#include "uBackupTree.h"

#include <QAbstractItemModel>
#include <QBrush>

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

// The rows of grdBAK, label and value columns, as RowsForBackupSets lists them; children
// hang under the label column only. The model keeps the records and makes a row's texts
// when a view asks for them: a set of 32,767 database files has 622,000 rows, and their
// texts would take several times the memory of the records they come from. A row is
// named by what it shows (set, file, field) packed into the index's internal id.
class TBackupTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    using QAbstractItemModel::QAbstractItemModel;

    // Every row as it is appended, parents before children: its level (0 set, 1 header
    // field or file list, 2 file, 3 file field) and its texts, which live only during
    // the call.
    using TRowVisitor = std::function<void(int level, std::u16string_view label, std::u16string_view value)>;

    void Clear();
    // Appends the rows for sets after those held, the sets numbered from 1 as in
    // RowsForBackupSets; visit, when given, sees every new row's texts, so that a view
    // can measure them while they are made.
    void Append(TBackupSets sets, const TRowVisitor& visit = {});
    [[nodiscard]] const TBackupSets& Sets() const { return FSets; }
    void SetValueBackground(const QBrush& brush) { FValueBackground = brush; }

    [[nodiscard]] QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& child) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] bool hasChildren(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    enum class TKind : uint8_t { Set, HeaderField, FileList, File, FileField };
    struct TNode {
        TKind Kind = TKind::Set;
        uint32_t Set = 0;
        uint32_t File = 0;
        uint32_t Field = 0;
    };
    [[nodiscard]] static quintptr Pack(const TNode& node);
    [[nodiscard]] static TNode Unpack(quintptr id);
    [[nodiscard]] QModelIndex IndexOf(const TNode& node, int column) const;
    [[nodiscard]] int ChildCount(const TNode& node) const;
    [[nodiscard]] std::u16string Text(const TNode& node, int column) const;
    // The field rows under a set (file -1) or a file, made again only when a view asks
    // for another record than the last few.
    [[nodiscard]] const std::vector<TBackupTreeField>& FieldsOf(uint32_t set, int64_t file) const;

    TBackupSets FSets;
    std::vector<uint32_t> FSetNumber;    // per set: the number its label shows
    std::vector<uint8_t> FHeaderFields;  // per set: its header rows before the file list
    int FFileFields = 0;

    struct TCached {
        uint32_t Set = 0;
        int64_t File = -2;
        std::vector<TBackupTreeField> Fields;
    };
    mutable std::vector<TCached> FCache;
    mutable size_t FCacheNext = 0;
    QBrush FValueBackground;
};
