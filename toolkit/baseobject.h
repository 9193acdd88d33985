#pragma once
// Reference counting shared by bitmaps, views and controls. A new object holds one
// reference, owned by whoever created it; forget() deletes the object at zero.

class CBaseObject {
  public:
    CBaseObject() = default;
    virtual ~CBaseObject() = default;

    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;

    void remember() { ++refCount; }
    void forget() {
        if (--refCount <= 0) delete this;
    }
    int getNbReference() const { return refCount; }

  private:
    int refCount = 1;
};
