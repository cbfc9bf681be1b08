// Containers of ASN.1 objects, owning or referring.
#include <string>

#include "ryxasn.h"
#include "ryxexception.h"

RYXASNObjectContainer::RYXASNObjectContainer(RYXOwnership ownership) : m_ownership(ownership) {}

RYXASNObjectContainer::~RYXASNObjectContainer() {
    clear();
}

void RYXASNObjectContainer::push_back(RYXASNObject* object) {
    if (object == nullptr) {
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           "A container cannot hold a null object");
    }
    try {
        m_objects.push_back(object);
    } catch (...) {
        if (m_ownership == RYX_OWNER) {
            delete object;
        }
        throw;
    }
}

size_t RYXASNObjectContainer::size() const {
    return m_objects.size();
}

bool RYXASNObjectContainer::empty() const {
    return m_objects.empty();
}

RYXASNObject* RYXASNObjectContainer::at(size_t index) const {
    if (index >= m_objects.size()) {
        std::string message = "Index " + std::to_string(index) +
                              " is past the end of a container of " +
                              std::to_string(m_objects.size()) + " objects";
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           RYXString(message.data(), message.size()));
    }
    return m_objects[index];
}

RYXOwnership RYXASNObjectContainer::getOwnership() const {
    return m_ownership;
}

void RYXASNObjectContainer::clear() {
    if (m_ownership == RYX_OWNER) {
        for (RYXASNObject* object : m_objects) {
            delete object;
        }
    }
    m_objects.clear();
}

namespace {

template <typename T>
T* typedAt(const RYXASNObjectContainer& container, size_t index, const char* what) {
    RYXASNObject* object = container.at(index);
    T* typed = dynamic_cast<T*>(object);
    if (typed == nullptr) {
        std::string message = "The object at index " + std::to_string(index) + " is a " +
                              object->getClassName().c_str() + ", not " + what;
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           RYXString(message.data(), message.size()));
    }
    return typed;
}

}  // namespace

RYXASNCertificateContainer::RYXASNCertificateContainer(RYXOwnership ownership)
    : RYXASNObjectContainer(ownership) {}

RYXASNCertificateContainer::~RYXASNCertificateContainer() = default;

RYXASNx509Certificate* RYXASNCertificateContainer::getCertificate(size_t index) const {
    return typedAt<RYXASNx509Certificate>(*this, index, "a certificate");
}

RYXASNCRLContainer::RYXASNCRLContainer(RYXOwnership ownership) : RYXASNObjectContainer(ownership) {}

RYXASNCRLContainer::~RYXASNCRLContainer() = default;

RYXASNCertificateList* RYXASNCRLContainer::getCRL(size_t index) const {
    return typedAt<RYXASNCertificateList>(*this, index, "a revocation list");
}
