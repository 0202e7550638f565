#ifndef RUNRECORD_H
#define RUNRECORD_H

#include "app/cmdagent.h"
#include "serial/runevents.h"

#include <QList>
#include <QString>

// One run as it happened, for a program that judges it: every event of the
// port, the line and the card drivers in the order they came (RunEvents),
// and what they mean in the terms of the command line the run was given.
class RunRecord {
public:
    // How a channel is named in what an event means: as the command line
    // gives it ("--ch 1 (the second channel)"), or as an instrument's
    // command does ("CHANnel2").
    enum Naming { OptionNames, ScpiNames };

    explicit RunRecord(const CmdAgent &agent, Naming naming = OptionNames);
    ~RunRecord();

    // The kinds of event that are faults of the line or of the card.
    static const QList<RunEvents::Kind> &faults();

    // How many events there are so far: a mark to look from.
    int size() const { return int(m_Events.size()); }
    // The first event, from the mark `from` on, of one of these kinds.
    const RunEvents::Event *first(const QList<RunEvents::Kind> &kinds, int from = 0) const;
    // What the card took on channel `ch`: the values the drivers sent, by
    // the read-back's names.
    CmdAgent::Readings applied(int ch) const;

    // Where in the run an event came: among the set commands of a set run,
    // the queries of a read-back, or the queries that verify a set run.
    enum Stage { SetCommands, ReadBack, Verification };

    // What an event means for a person, in a line: a refusal in the units
    // and words of the option that gave the value (and whether it was given
    // in this run or stored by an earlier one), a fault of the line or a
    // value the card cannot hold with the parameter and channel it concerns.
    QString explain(const RunEvents::Event &e, const QString &model, Stage stage) const;

private:
    QString refusal(const RunEvents::Event &e, const QString &model) const;

    const CmdAgent &m_Agent;
    const Naming m_Naming;
    QList<RunEvents::Event> m_Events;
    RunEvents::Sink m_Outer;
};

#endif // RUNRECORD_H
