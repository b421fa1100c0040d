#include "uBackupTreeModel.h"

#include <algorithm>
#include <utility>

namespace {

// The layout of an internal id: the set in the low 29 bits, then 25 bits of file, 7 bits
// of field and the kind in the top 3 bits. Views keep expanded rows in a hash whose
// buckets come from the low bits of the id plus the row, so the part that varies most
// goes there. A set holds at most 32,767 database files and a header fewer than 128
// fields; a read keeps far fewer sets and files than these bounds allow (a file record
// alone takes hundreds of bytes).
constexpr int FileShift = 29;
constexpr int FieldShift = 54;
constexpr int KindShift = 61;
constexpr uint64_t SetMask = (uint64_t(1) << 29) - 1;
constexpr uint64_t FileMask = (uint64_t(1) << 25) - 1;
constexpr uint64_t FieldMask = (uint64_t(1) << 7) - 1;
constexpr size_t CacheSize = 16;

static_assert(sizeof(quintptr) >= sizeof(uint64_t), "the row ids need 64 bits");

}  // namespace

quintptr TBackupTreeModel::Pack(const TNode& node)
{
    return static_cast<quintptr>((uint64_t(node.Kind) << KindShift) |
                                 ((node.Field & FieldMask) << FieldShift) |
                                 ((node.File & FileMask) << FileShift) | (node.Set & SetMask));
}

TBackupTreeModel::TNode TBackupTreeModel::Unpack(quintptr id)
{
    const uint64_t v = id;
    return {static_cast<TKind>(v >> KindShift), static_cast<uint32_t>(v & SetMask),
            static_cast<uint32_t>((v >> FileShift) & FileMask),
            static_cast<uint32_t>((v >> FieldShift) & FieldMask)};
}

void TBackupTreeModel::Clear()
{
    beginResetModel();
    FSets.clear();
    FSetNumber.clear();
    FHeaderFields.clear();
    FCache.clear();
    FCacheNext = 0;
    endResetModel();
}

void TBackupTreeModel::Append(TBackupSets sets, const TRowVisitor& visit)
{
    if (FFileFields == 0)
        FFileFields = static_cast<int>(FileFields(TBackupFile{}).size());
    // Sets past what a row id can name are not shown; no read comes near it.
    const size_t room = SetMask + 1 - std::min<size_t>(FSets.size(), SetMask + 1);
    if (sets.size() > room)
        sets.resize(room);
    if (sets.empty())
        return;
    const int first = static_cast<int>(FSets.size());
    // All new sets with all their rows arrive in one insertion, so a view lays the whole
    // fill out once.
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(sets.size()) - 1);
    uint32_t number = 0;
    for (TBackupDetails& details : sets) {
        const std::vector<TBackupTreeField> header = HeaderFields(details.Header);
        FSetNumber.push_back(number);
        FHeaderFields.push_back(static_cast<uint8_t>(header.size()));
        if (visit) {
            visit(0, SetRowLabel(number), {});
            for (const TBackupTreeField& field : header)
                visit(1, field.Label, field.Value);
            visit(1, FileListRowLabel(details.Files.size()), {});
            for (const TBackupFile& file : std::as_const(details.Files)) {
                visit(2, FileRowLabel(file), {});
                for (const TBackupTreeField& field : FileFields(file))
                    visit(3, field.Label, field.Value);
            }
        }
        ++number;
        FSets.push_back(std::move(details));
    }
    endInsertRows();
}

const std::vector<TBackupTreeField>& TBackupTreeModel::FieldsOf(uint32_t set, int64_t file) const
{
    for (const TCached& cached : FCache)
        if (cached.Set == set && cached.File == file)
            return cached.Fields;
    const TBackupDetails& details = FSets[set];
    std::vector<TBackupTreeField> fields =
        file < 0 ? HeaderFields(details.Header) : FileFields(details.Files[static_cast<size_t>(file)]);
    if (FCache.size() < CacheSize) {
        FCache.push_back({set, file, std::move(fields)});
        return FCache.back().Fields;
    }
    TCached& slot = FCache[FCacheNext];
    FCacheNext = (FCacheNext + 1) % CacheSize;
    slot = {set, file, std::move(fields)};
    return slot.Fields;
}

int TBackupTreeModel::ChildCount(const TNode& node) const
{
    switch (node.Kind) {
    case TKind::Set:
        return FHeaderFields[node.Set] + 1;
    case TKind::FileList:
        return static_cast<int>(std::min<size_t>(FSets[node.Set].Files.size(), FileMask + 1));
    case TKind::File:
        return FFileFields;
    default:
        return 0;
    }
}

QModelIndex TBackupTreeModel::IndexOf(const TNode& node, int column) const
{
    int row = 0;
    switch (node.Kind) {
    case TKind::Set:
        row = static_cast<int>(node.Set);
        break;
    case TKind::HeaderField:
    case TKind::FileField:
        row = static_cast<int>(node.Field);
        break;
    case TKind::FileList:
        row = FHeaderFields[node.Set];
        break;
    case TKind::File:
        row = static_cast<int>(node.File);
        break;
    }
    return createIndex(row, column, Pack(node));
}

QModelIndex TBackupTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column < 0 || column >= 2 || row < 0 || (parent.isValid() && parent.column() != 0))
        return {};
    if (!parent.isValid()) {
        if (row >= static_cast<int>(FSets.size()))
            return {};
        return IndexOf({TKind::Set, static_cast<uint32_t>(row), 0, 0}, column);
    }
    const TNode up = Unpack(parent.internalId());
    if (row >= ChildCount(up))
        return {};
    const auto r = static_cast<uint32_t>(row);
    switch (up.Kind) {
    case TKind::Set:
        return row < FHeaderFields[up.Set] ? IndexOf({TKind::HeaderField, up.Set, 0, r}, column)
                                           : IndexOf({TKind::FileList, up.Set, 0, 0}, column);
    case TKind::FileList:
        return IndexOf({TKind::File, up.Set, r, 0}, column);
    case TKind::File:
        return IndexOf({TKind::FileField, up.Set, up.File, r}, column);
    default:
        return {};
    }
}

QModelIndex TBackupTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    const TNode node = Unpack(child.internalId());
    switch (node.Kind) {
    case TKind::Set:
        return {};
    case TKind::HeaderField:
    case TKind::FileList:
        return IndexOf({TKind::Set, node.Set, 0, 0}, 0);
    case TKind::File:
        return IndexOf({TKind::FileList, node.Set, 0, 0}, 0);
    case TKind::FileField:
        return IndexOf({TKind::File, node.Set, node.File, 0}, 0);
    }
    return {};
}

int TBackupTreeModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(FSets.size());
    if (parent.column() != 0)
        return 0;
    return ChildCount(Unpack(parent.internalId()));
}

bool TBackupTreeModel::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

int TBackupTreeModel::columnCount(const QModelIndex&) const
{
    return 2;
}

std::u16string TBackupTreeModel::Text(const TNode& node, int column) const
{
    const TBackupDetails& details = FSets[node.Set];
    switch (node.Kind) {
    case TKind::Set:
        return column == 0 ? SetRowLabel(FSetNumber[node.Set]) : std::u16string();
    case TKind::FileList:
        return column == 0 ? FileListRowLabel(details.Files.size()) : std::u16string();
    case TKind::File:
        return column == 0 ? FileRowLabel(details.Files[node.File]) : std::u16string();
    case TKind::HeaderField:
    case TKind::FileField: {
        const std::vector<TBackupTreeField>& fields =
            FieldsOf(node.Set, node.Kind == TKind::HeaderField ? -1 : int64_t(node.File));
        const TBackupTreeField& field = fields[node.Field];
        return column == 0 ? std::u16string(field.Label) : field.Value;
    }
    }
    return {};
}

QVariant TBackupTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdU16String(Text(Unpack(index.internalId()), index.column()));
    case Qt::BackgroundRole:
        return index.column() == 1 ? QVariant(FValueBackground) : QVariant();
    default:
        return {};
    }
}

Qt::ItemFlags TBackupTreeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Saying so of the field rows spares a view looking each of them up among the
    // expanded rows.
    const TKind kind = Unpack(index.internalId()).Kind;
    const bool leaf = kind == TKind::HeaderField || kind == TKind::FileField;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | (leaf ? Qt::ItemNeverHasChildren : Qt::NoItemFlags);
}
