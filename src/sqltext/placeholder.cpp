// Placeholder so the folder builds until its first source lands; delete it then.
