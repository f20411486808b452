// Identifiers of the resources, shared by the .rc files and the code that loads them.
#ifndef LUMIVEX_RESOURCE_H
#define LUMIVEX_RESOURCE_H

#define IDI_LUMIVEX 100

#endif
