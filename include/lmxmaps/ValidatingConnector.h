#pragma once
// Opening a stored map source again: the validator registered for the provider's class checks
// the source (and may reconnect or replace it) before the document uses it. The host fills the
// registry; a class without a validator cannot be opened and the open is cancelled.

#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include <lmxmaps/host/IAuthenticator.h>
#include <lmxmaps/host/StringTable.h>
#include <lmxmaps/host/TString.h>

class MapNamespace;
class MapSource;

class ValidatingConnector {
public:
    // The source to use in place of the one given.
    using Validator = std::function<std::shared_ptr<MapSource>(
        const MapNamespace& mapNamespace, AttributeMap& attributes,
        std::shared_ptr<MapSource> source, IAuthenticator* authenticator)>;

    // Localized refusals of a source whose class has no validator (%1: the source's name): in
    // a reader or server, and otherwise.
    static constexpr StringId kUnknownClassCancelReaderText = 0x4C4D5501u;
    static constexpr StringId kUnknownClassCancelText = 0x4C4D5502u;

    // Validators by provider class; safe from any thread.
    class Registry {
    public:
        constexpr Registry() = default;
        Registry(const Registry&) = delete;
        Registry& operator=(const Registry&) = delete;

        // Installs or replaces the class's validator; an empty validator removes it.
        void Register(const TString& className, Validator validator);
        bool IsRegistered(const TString& className) const;
        // Empty when the class has none.
        Validator Find(const TString& className) const;

    private:
        mutable std::mutex m_mutex;
        // Made on first registration, so the registry needs no dynamic initialisation and the
        // host may register from its own static initialisers.
        std::unique_ptr<std::map<TString, Validator>> m_validators;
    };

    static Registry sMapSourceValidators;

    // Sets "name" in the attributes to the source's name and hands everything to the validator
    // of the provider's class, or to ValidateUnknownMapSource when there is none.
    static std::shared_ptr<MapSource> ValidateMapSource(const MapNamespace& mapNamespace,
                                                        AttributeMap& attributes,
                                                        std::shared_ptr<MapSource> source,
                                                        IAuthenticator* authenticator);
    // Always refuses with UserCancelException.
    [[noreturn]] static std::shared_ptr<MapSource>
    ValidateUnknownMapSource(const MapNamespace& mapNamespace, AttributeMap& attributes,
                             std::shared_ptr<MapSource> source, IAuthenticator* authenticator);
    // Throws UserCancelException with the message.
    [[noreturn]] static void ThrowUserCancel(TString message);
};
