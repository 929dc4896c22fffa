// placeholder: implemented in a later commit
