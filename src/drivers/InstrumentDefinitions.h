#pragma once
// Instrument models defined in small files: one *.ini file, one model, its
// operations served through the generic operations exactly as a built-in
// model's. The reader is a pure function of the file's text (fuzzed); the
// loader reads the definition folders into one set, which the line holds.
#include "drivers/InstrumentModel.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <vector>

namespace quorvex {

enum class DefinedProtocol { Ascii, ModbusRtu };
enum class RegisterType { Int16, UInt16, Int32, UInt32, Float32 };
// Byte order of a 32-bit value over two registers: A is the most significant byte.
enum class WordOrder { ABCD, CDAB, BADC, DCBA };

// What one operation group of a definition says.
struct DefinedOperation {
    DefinedProtocol protocol = DefinedProtocol::Ascii;
    // Text instruments
    QByteArray request; // empty: a continuous instrument
    QByteArray end; // a reply ends with these bytes ...
    int length = 0; // ... or has exactly this many
    QRegularExpression format; // a valid reply matches; group 1 is the number
    char decimalMark = '.';
    QByteArray example;
    // Modbus RTU
    int unit = 1;
    int function = 3; // 3, 4 read; 6, 5 write
    int address = 0;
    RegisterType type = RegisterType::UInt16;
    WordOrder order = WordOrder::ABCD;
    double factor = 1;
    int value = 1; // what a write sends (a coil: 0 off, otherwise on)

    int registerCount() const { return type == RegisterType::Int16 || type == RegisterType::UInt16 ? 1 : 2; }
};

// One defined model. Its recipes point into it, so it is never moved.
struct InstrumentDefinition {
    InstrumentModel row;
    DefinedProtocol protocol = DefinedProtocol::Ascii;
    QByteArray brandBytes, modelBytes;
    std::array<DefinedOperation, 5> operations;
    std::array<Recipe, 5> recipes;
    int count = 0;
};

// Where a definition does not read.
struct DefinitionProblem {
    QString group;
    QString key;
    QString problem;
};

// The model the text defines, or null and the problem.
std::unique_ptr<InstrumentDefinition> readDefinition(QByteArrayView text, const QString &source,
                                                     DefinitionProblem *problem);

// The folders searched, in order: the user's, then the package's.
QStringList definitionFolders();

// A definition file a load left out, and why (the warning's text). brand
// and model as its [Strumento] lines give them, empty when they do not read.
struct RefusedDefinition {
    QString path;
    QString brand, model;
    QString why;
};

// The defined models of one load of the definition folders. Each load makes
// a new set and whoever binds its recipes holds it, so a recipe stays valid
// while a reading that took it runs, and a set nobody holds any more is gone.
class InstrumentDefinitions {
public:
    // Reads every *.ini of the folders (each folder in name order); a file
    // that does not read, or takes a name already known, is one warning and
    // is left out.
    static std::shared_ptr<const InstrumentDefinitions> load(const QStringList &folders = definitionFolders());
    // No defined model: what is in use before the first load.
    static std::shared_ptr<const InstrumentDefinitions> none();

    // The files the load left out.
    const std::vector<RefusedDefinition> &refused() const { return m_refused; }
    // The defined models, in load order.
    std::vector<const InstrumentModel *> definedModels() const;
    // The built-in models, then the defined ones.
    std::vector<const InstrumentModel *> knownModels() const;
    // The built-in recipe of the operation for that brand and model (as
    // findRecipe by its driver name), then the defined one (compared without
    // regard to case); null when there is none.
    const Recipe *recipe(const QString &operation, const QString &brand, const QString &model) const;

private:
    std::vector<std::unique_ptr<InstrumentDefinition>> m_definitions;
    std::vector<RefusedDefinition> m_refused;
};

using DefinitionsRef = std::shared_ptr<const InstrumentDefinitions>;

// The number in group 1 of a reply that matches the operation's format.
std::optional<double> definedNumber(QByteArrayView reply, const DefinedOperation &op);

} // namespace quorvex
