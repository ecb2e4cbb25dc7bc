#ifndef GALAPI_H
#define GALAPI_H

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <map>
#include <memory>

// The script layer's modules, imported by name; no interpreter is linked, so "galapi" is ours, written in C++. A
// caller holds AcquireGIL around each call as it would with an interpreter; the functions themselves are safe from any
// thread, since main-thread callers take no lock.
class JXScriptModule
{
public:
    using Function = std::function<QVariant(const QVariantList&)>;

    explicit JXScriptModule(const QString& name) : m_name(name) {}

    QString name() const { return m_name; }
    void define(const QString& function, Function body) { m_functions[function] = std::move(body); }
    bool has(const QString& function) const { return m_functions.count(function) != 0; }
    // An invalid value when the module has no such function.
    QVariant call(const QString& function, const QVariantList& arguments) const;

    // The module, or null when none of that name is registered.
    static std::shared_ptr<const JXScriptModule> importModule(const QString& name);

    // For tests: replace a module (null removes it), drop one function of a registered module, and restore the
    // built-in modules.
    static void setModule(const QString& name, std::shared_ptr<const JXScriptModule> module);
    static void removeFunction(const QString& module, const QString& function);
    static void restoreBuiltins();

private:
    QString m_name;
    std::map<QString, Function> m_functions;
};

// The functions of "galapi".
namespace GalApi {

// "CreateProfileXml"(INI path, target path): the INI's [Profile] keys as a "settings" document of "property"
// elements; true when the whole file was written.
bool createProfileXml(const QString& iniPath, const QString& targetPath);
// "CreateProfileIni"(keys, values, INI path): false when the lists differ in length or the file is not written.
bool createProfileIni(const QStringList& keys, const QStringList& values, const QString& iniPath);
// "ExportPmz"(target folder, model, version, profile path, volume path): one GPX file ".pmz" per activity file of the
// volume, with its name, times and distance; the paths written.
QStringList exportPmz(const QString& target, const QString& model, const QString& version,
                      const QString& profilePath, const QString& volumePath);

} // namespace GalApi

#endif
