// SPDX-License-Identifier: GPL-2.0-or-later
// The lists' models and their sort, without a window.

#include <gtest/gtest.h>

#include <QFont>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QStringList>
#include <QTest>
#include <QTreeView>
#include <algorithm>

#include "app/ReceptionModels.h"

using namespace zolt;

namespace {

ListedReception listed(int recordNo, std::string ident, std::string date, std::string time = "") {
    ListedReception r;
    r.recordNo = recordNo;
    r.ident = std::move(ident);
    r.frequency = "344       ";
    r.time = std::move(time);
    r.date = std::move(date);
    r.comment = "          ";
    return r;
}

RankedCandidate candidate(std::int64_t id, std::string city, std::optional<double> km,
                          std::optional<double> offset = std::nullopt) {
    RankedCandidate r;
    r.candidate.beaconId = id;
    r.candidate.ident = "AB";
    r.candidate.frequency = "344";
    r.candidate.city = std::move(city);
    r.candidate.province = "ON";
    r.candidate.country = "Canada";
    r.distanceKm = km;
    r.frequencyOffsetKHz = offset;
    return r;
}

// The shown texts of one column, top to bottom, as a view over `model` shows them.
QStringList column(const QAbstractItemModel& model, int c) {
    QStringList texts;
    for (int r = 0; r < model.rowCount(); ++r) texts << model.index(r, c).data().toString();
    return texts;
}

TEST(ListModels, RowsCarryTheirBeaconPositionAndRawFieldsUntrimmedBesideTrimmedTexts) {
    // Ids a text cell could not carry: beyond 32 bits, beyond a double's digits.
    const std::int64_t ids[] = {2147483648LL, 9007199254740993LL, -3, 0};
    CandidateModel exact(CandidateModel::Kind::Exact);
    RankedCandidates ranked;
    for (std::int64_t id : ids) ranked.rows.push_back(candidate(id, "Abtown   ", 10));
    exact.setRanked(ranked);
    ListSortProxy proxy;
    proxy.setSourceModel(&exact);
    ASSERT_EQ(proxy.rowCount(), 4);
    for (int r = 0; r < 4; ++r) {
        EXPECT_EQ(beaconIdAt(proxy.index(r, 0)), ids[r]);
        EXPECT_EQ(beaconIdAt(proxy.index(r, exact.ExactDistance)), ids[r]);
    }
    // An own beacon says so in its country cell, its padding gone.
    ranked.rows[1].candidate.country = "Canada   ";
    ranked.rows[1].candidate.own = true;
    exact.setRanked(ranked);
    EXPECT_EQ(exact.index(0, CandidateModel::ExactCity).data().toString(), "Abtown");
    EXPECT_EQ(exact.index(1, CandidateModel::ExactCountry).data().toString(),
              "Canada (your own beacon)");

    const struct {
        std::string raw;
        QString shown;
    } fields[] = {
        {"D         ", "D"},
        {"  AB  ", "AB"},
        {"\xE9t\xE9 ", QString::fromUtf8("\xC3\xA9t\xC3\xA9")},  // Windows-1252
        {"          ", ""},
    };
    std::vector<ListedReception> rows;
    for (const auto& f : fields)
        rows.push_back(listed(static_cast<int>(rows.size()) + 7, f.raw, "1/2/99"));
    WaitingReceptionModel waiting;
    waiting.setRows(rows);
    ASSERT_EQ(waiting.columnCount(), 5);  // no hidden column
    for (int r = 0; r < waiting.rowCount(); ++r) {
        const QModelIndex cell = waiting.index(r, WaitingReceptionModel::Ident);
        EXPECT_EQ(cell.data().toString(), fields[r].shown) << fields[r].raw;
        EXPECT_EQ(cell.data(PositionRole).toInt(), r + 7);
        const ListedReception back =
            listedReceptionAt(waiting.index(r, WaitingReceptionModel::Comment));
        EXPECT_EQ(back.ident, fields[r].raw);
        EXPECT_EQ(back.frequency, "344       ");
    }
}

TEST(ListModels, HeadersAreTodaysWithoutTheHiddenColumn) {
    CandidateModel exact(CandidateModel::Kind::Exact), possible(CandidateModel::Kind::Possible);
    WaitingReceptionModel waiting;
    LoggedReceptionModel logged;
    LoggedBeaconModel beacons;
    MatchSummaryModel summary;
    const struct {
        const QAbstractItemModel* model;
        QStringList headers;
    } cases[] = {
        {&waiting, {"Ident", "Freq", "Time", "Date", "Comment"}},
        {&exact, {"City ", "Province", "Country", "Distance"}},
        {&possible,
         {"Call ", "Frequency", "City", "Province", "Country", "Distance",
          QString::fromUtf8("\u0394 kHz")}},
        {&logged,
         {"Ident", "Freq", "Time", "Date", "Comment", "Beacon", "City", "Country", "Distance",
          "How"}},
        {&beacons, {"Call", "Frequency", "City", "Province", "Country", "Distance"}},
        {&summary,
         {"Location", "Receptions", "Logged at once", "Of them own beacons", "Ambiguous",
          "Unresolved"}},
    };
    for (const auto& c : cases) {
        QStringList headers;
        for (int i = 0; i < c.model->columnCount(); ++i) {
            headers << c.model->headerData(i, Qt::Horizontal).toString();
        }
        EXPECT_EQ(headers, c.headers);
    }
}

TEST(ListModels, SortsDatesAsDaysNumbersAsNumbersAndBlanksLastBothWays) {
    // The Date column: 02/17/01 is after 12/27/96 although it sorts before as text.
    WaitingReceptionModel waiting;
    waiting.setRows({listed(1, "A", "02/17/01"), listed(2, "B", "never"),
                     listed(3, "C", "12/27/96"), listed(4, "D", "01/05/97", "2300"),
                     listed(5, "E", "01/05/97", "0100")});
    CandidateModel possible(CandidateModel::Kind::Possible);
    RankedCandidates ranked;
    ranked.rows = {candidate(1, "Cee", 1200, 1), candidate(2, "", std::nullopt, -0.5),
                   candidate(3, "Bee", 30, std::nullopt), candidate(4, "Aye", 5, 0)};
    possible.setRanked(ranked);
    LoggedReceptionModel logged;
    const auto loggedRow = [](std::string ident, std::string date, std::optional<double> km) {
        LoggedReception r;
        r.ident = std::move(ident);
        r.date = std::move(date);
        r.distanceKm = km;
        return r;
    };
    logged.setRows({loggedRow("I", "zz", 2), loggedRow("G", "", std::nullopt),
                    loggedRow("H", "11/30/97", 500), loggedRow("F", "03/01/98", 10)});

    const struct {
        ListTableModel* model;
        int column;
        Qt::SortOrder order;
        QStringList rows;  // by their idents, the candidates by their ids
        bool byRole;       // the same when read through the sort key role
    } cases[] = {
        {&waiting,
         WaitingReceptionModel::Date,
         Qt::AscendingOrder,
         {"C", "E", "D", "A", "B"},
         true},
        {&waiting,
         WaitingReceptionModel::Date,
         Qt::DescendingOrder,
         {"A", "D", "E", "C", "B"},
         true},
        {&possible,
         CandidateModel::PossibleDistance,
         Qt::AscendingOrder,
         {"4", "3", "1", "2"},
         true},
        {&possible,
         CandidateModel::PossibleDistance,
         Qt::DescendingOrder,
         {"1", "3", "4", "2"},
         true},
        {&possible, CandidateModel::PossibleOffset, Qt::AscendingOrder, {"2", "4", "1", "3"}, true},
        {&possible,
         CandidateModel::PossibleOffset,
         Qt::DescendingOrder,
         {"1", "4", "2", "3"},
         true},
        {&possible, CandidateModel::PossibleCity, Qt::AscendingOrder, {"4", "3", "1", "2"}, true},
        {&possible, CandidateModel::PossibleCity, Qt::DescendingOrder, {"1", "3", "4", "2"}, true},
        {&logged, LoggedReceptionModel::Ident, Qt::AscendingOrder, {"F", "G", "H", "I"}, true},
        {&logged, LoggedReceptionModel::Distance, Qt::AscendingOrder, {"I", "F", "H", "G"}, true},
        {&logged, LoggedReceptionModel::Distance, Qt::DescendingOrder, {"H", "F", "I", "G"}, true},
        // Dates that do not read come last and sort among themselves as texts.
        {&logged, LoggedReceptionModel::Date, Qt::AscendingOrder, {"H", "F", "G", "I"}, true},
        {&logged, LoggedReceptionModel::Date, Qt::DescendingOrder, {"F", "H", "I", "G"}, false},
    };
    for (const auto& c : cases) {
        // Straight on the model, and through a model in between, which the
        // proxy can only read through the sort key role.
        QIdentityProxyModel between;
        between.setSourceModel(c.model);
        for (QAbstractItemModel* source : {static_cast<QAbstractItemModel*>(c.model),
                                           static_cast<QAbstractItemModel*>(&between)}) {
            if (source == &between && !c.byRole) continue;
            ListSortProxy proxy;
            proxy.setSourceModel(source);
            proxy.sort(c.column, c.order);
            QStringList got;
            for (int r = 0; r < proxy.rowCount(); ++r) {
                const QModelIndex index = proxy.index(r, 0);
                got << (c.model == &possible ? QString::number(beaconIdAt(index))
                                             : index.data().toString());
            }
            EXPECT_EQ(got, c.rows) << c.column << " " << c.order << (source == &between);
        }
    }
}

TEST(ListModels, ASortHoldsAcrossFillsAndUnsortedKeepsTheLookUpsOrder) {
    CandidateModel exact(CandidateModel::Kind::Exact);
    ListSortProxy proxy;
    proxy.setSourceModel(&exact);
    RankedCandidates ranked;
    ranked.rows = {candidate(1, "B", 300), candidate(2, "A", 20), candidate(3, "C", 100)};
    exact.setRanked(ranked);
    EXPECT_EQ(column(proxy, CandidateModel::ExactCity), QStringList({"B", "A", "C"}));
    proxy.sort(CandidateModel::ExactDistance, Qt::AscendingOrder);
    ranked.rows.push_back(candidate(4, "D", 1));
    exact.setRanked(ranked);
    EXPECT_EQ(column(proxy, CandidateModel::ExactDistance), QStringList({"1", "20", "100", "300"}));
}

TEST(ListModels, TheSuggestedPickIsBoldAndDescribedInEveryColumn) {
    for (const int suggested : {1, -1}) {
        CandidateModel possible(CandidateModel::Kind::Possible);
        RankedCandidates ranked;
        ranked.rows = {candidate(1, "A", 5), candidate(2, "B", 6), candidate(3, "C", 7)};
        ranked.suggested = suggested;
        possible.setRanked(ranked);
        EXPECT_EQ(possible.suggestedRow(), suggested);
        for (int r = 0; r < possible.rowCount(); ++r) {
            const bool marked = r == suggested;
            for (int c = 0; c < possible.columnCount(); ++c) {
                const QModelIndex cell = possible.index(r, c);
                EXPECT_EQ(cell.data(Qt::FontRole).value<QFont>().bold(), marked) << r << c;
                EXPECT_EQ(cell.data(Qt::AccessibleDescriptionRole).toString(),
                          marked ? "suggested pick" : "");
                EXPECT_EQ(cell.data(SuggestedRole).toBool(), marked);
            }
            EXPECT_EQ(possible.index(r, 0).data(PlaceRole).toString().endsWith(" (suggested pick)"),
                      marked);
        }
    }
}

TEST(ListModels, TheMatchSummaryEndsWithItsTotalsInBold) {
    MatchAllResult result;
    result.matched = {{3, 10, 7, 1, 2, 1}};
    result.totals = {0, 10, 7, 1, 2, 1};
    MatchSummaryModel summary;
    summary.setResult(result, [](int) { return QStringLiteral("Here"); });
    EXPECT_EQ(column(summary, 0), QStringList({"Here (3)", "Total"}));
    EXPECT_FALSE(summary.index(0, 0).data(Qt::FontRole).value<QFont>().bold());
    EXPECT_TRUE(summary.index(1, 5).data(Qt::FontRole).value<QFont>().bold());
}

// Clicks a header section as the user does: the header turns its indicator.
void clickHeader(QTreeView& view, int section) {
    QHeaderView* header = view.header();
    const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

TEST(ListViews, TheWaitingListComesByIdentAfterEveryFillAndCandidatesWhenTheUserSorts) {
    QTreeView upper, lower;
    WaitingReceptionModel waiting;
    CandidateModel exact(CandidateModel::Kind::Exact);
    const QFontMetrics metrics(upper.font());
    setupWaitingView(&upper, &waiting, metrics);
    setupCandidateView(&lower, &exact, metrics);
    upper.resize(800, 300);
    lower.resize(800, 300);
    upper.show();
    lower.show();

    const std::vector<ListedReception> rows = {listed(1, "B", "02/17/01"),
                                               listed(2, "A", "12/27/96")};
    waiting.setRows(rows);
    EXPECT_EQ(column(*upper.model(), 0), QStringList({"A", "B"}));
    upper.sortByColumn(WaitingReceptionModel::Date, Qt::DescendingOrder);
    EXPECT_EQ(column(*upper.model(), 0), QStringList({"B", "A"}));
    waiting.setRows(rows);
    EXPECT_EQ(column(*upper.model(), 0), QStringList({"A", "B"}));

    RankedCandidates ranked;
    ranked.rows = {candidate(1, "B", 300), candidate(2, "A", 20), candidate(3, "C", std::nullopt)};
    exact.setRanked(ranked);
    EXPECT_EQ(column(*lower.model(), 0), QStringList({"B", "A", "C"}));
    clickHeader(lower, CandidateModel::ExactDistance);  // a new column: nearest first
    EXPECT_EQ(column(*lower.model(), 0), QStringList({"A", "B", "C"}));
    clickHeader(lower, CandidateModel::ExactDistance);  // the same again: farthest first
    std::reverse(ranked.rows.begin(), ranked.rows.end());
    exact.setRanked(ranked);
    EXPECT_EQ(column(*lower.model(), 0), QStringList({"B", "A", "C"}));
    clickHeader(lower, CandidateModel::ExactCity);
    EXPECT_EQ(column(*lower.model(), 0), QStringList({"A", "B", "C"}));
}

}  // namespace
