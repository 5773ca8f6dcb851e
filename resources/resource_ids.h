// Identifiers of the installer's own resources, shared by the resource script and the code.
#ifndef RESOURCES_RESOURCE_IDS_H_
#define RESOURCES_RESOURCE_IDS_H_

#define IDI_INSTALLER 128

#endif  // RESOURCES_RESOURCE_IDS_H_
